#pragma once
// Durations as the user reads and types them ("1 hour 30 minutes"); the dialogs keep
// them in minutes. A month counts 30 days and a year 365 days, so a text always names
// one exact length.
#include <optional>
#include <string>
#include <string_view>

enum class TIntervalUnit { Second, Minute, Hour, Day, Week, Month, Year };

// The length of one unit in seconds.
long long IntervalUnitSeconds(TIntervalUnit unit);
// "second", "minute", ... (singular).
const char* IntervalUnitWord(TIntervalUnit unit);

// From the largest unit down to the smallest, each unit whose count is not zero: the
// count, a blank and the unit word, "s" appended when the count is not 1 ("1 hour 30
// minutes", "1 minute"). minutes may be fractional: the rest below a minute shows as
// seconds when seconds are offered, else the smallest unit's count is rounded. Zero,
// less, or no number at all shows "0" and the smallest unit offered ("0 seconds").
std::string IntervalText(double minutes, TIntervalUnit smallest = TIntervalUnit::Second,
                         TIntervalUnit largest = TIntervalUnit::Year);

// Reads typed text: numbers (decimals too, "1.5") each followed by a unit word, its
// plural or an abbreviation (s, sec, secs; m, min, mins; h, hr, hrs; d; w, wk, wks; mo,
// mos; y, yr, yrs), in any letter case, blanks optional between the number and its unit,
// pairs separated by blanks or commas; the pairs are summed. A number without a unit
// counts as minutes only when it is the whole text ("90"); anywhere else it makes the
// text unreadable. The result is in minutes; nothing for "(No Value)", empty or
// unreadable text.
std::optional<double> ParseIntervalText(std::string_view text);
