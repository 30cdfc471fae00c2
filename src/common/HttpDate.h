#pragma once
// Dates as HTTP headers carry them: "Tue, 8 Dec 2026 14:03:43 GMT".
#include <string>
#include <string_view>

#include "common/DateTime.h"

// The header text of a date-time. With toGMT the local value is first converted to UTC
// with the zone offset in force at that date; without it the value is written as is.
std::string HttpDateText(TDateTime value, bool toGMT);

// Reads "ddd, d mmm yyyy hh:nn:ss zone" (any letter case, blanks around ignored) into a
// local date-time, or -1 when the text is not such a date. A "GMT" zone is converted to
// local time; any other zone text is taken as local time already.
TDateTime ParseHttpDate(std::string_view text);
