#pragma once
// Cutting lines of the stored files into fields and putting them back together:
// delimited fields with an optional quote character, quoting, delimited item lists and
// the "#" + two hexadecimal digits escape. A quote character of 0 means no quoting.
// Every function returns a fresh value, keeps no state and accepts any input.
#include <string>
#include <string_view>
#include <vector>

#include "common/CharSet.h"

// --- Fields -------------------------------------------------------------------------

// The n-th delimited field (1 from the left, -1 from the right), unquoted; empty for
// n = 0 or when there are fewer fields. Inside a quoted stretch delimiters do not split;
// a quote ends the stretch only when a delimiter or the end of the text follows it and
// it ends an odd run of quotes counted after the opening one, so doubled quotes and an
// empty quoted field read back as written by QuoteText.
std::string GetField(std::string_view text, char delim, int n, char quote);

// Removes one enclosing pair of quotes (when the text has at least two characters and
// both ends are the quote), then turns every doubled quote into one.
std::string UnquoteText(std::string_view text, char quote);

// The quote, the text with each quote doubled, the quote. Quote 0 returns the text.
std::string QuoteText(std::string_view text, char quote);

// The text, trimmed of characters 0-32 at both ends and followed by one delimiter, up
// to (not including) its n-th delimiter outside quotes; each quote toggles quoting.
// With fewer delimiters (or n < 1) the whole trimmed text with the delimiter.
std::string FieldsBefore(std::string_view text, char delim, int n, char quote);

// The same scan as FieldsBefore; what follows the n-th delimiter, without the appended
// delimiter. Empty with fewer delimiters (or n < 1).
std::string FieldsAfter(std::string_view text, char delim, int n, char quote);

// Splits at the n-th (non-overlapping) occurrence of separator. Without one (also for
// an empty separator or n < 1) before is the whole text and after is empty. Returns
// whether the occurrence was found.
bool SplitAt(std::string_view text, std::string_view separator, int n, std::string& before,
             std::string& after);

// The text between the n-th opening marker at nesting depth `depth` (1 outermost, -1
// any depth; pairs counted in the order they open) and its closing marker, markers
// inside quotes ignored and a stray closing marker ignored. One enclosing pair of quotes
// is removed from the result. Empty when there is no such complete pair.
std::string TextBetween(std::string_view text, std::string_view open, std::string_view close, char quote,
                        int depth, int n);

// --- Item lists ---------------------------------------------------------------------

// The items joined by sep; an item containing sep is enclosed in quotes (not doubled).
std::string JoinList(const std::vector<std::string>& list, char sep, char quote);

// Appends one item per sep-delimited piece (a trailing sep gives a final empty item);
// quotes toggle a state in which sep does not split and are themselves dropped. An
// empty text adds nothing.
void SplitList(std::string_view text, std::vector<std::string>& list, char sep, bool clear, char quote);

// A delimited list has the delimiter at both ends (added when missing). An entry
// matches the part of item before its first valueMarker, ASCII case ignored, either
// as delim-item-delim or as delim-item-valueMarker (the entry then runs to the next
// delimiter). A valueMarker of 0 means entries carry no values.
bool ListHasItem(std::string_view listText, std::string_view item, char delim, char valueMarker = 0);
// Removes every entry of the item, then appends the item (with its value) and delim.
std::string ListAddItem(std::string_view listText, std::string_view item, char delim, char valueMarker = 0);
// Removes every entry of the item, with its value.
std::string ListRemoveItem(std::string_view listText, std::string_view item, char delim,
                           char valueMarker = 0);

// --- Escapes ------------------------------------------------------------------------

// Each character in the set, and each "#", becomes "#" and two upper-case hex digits.
std::string HashEscape(std::string_view text, const TCharSet& set);
// "#" and two hex digits (either case) become that byte; "#" and two other characters
// become "-". A "#" with fewer than two characters after it is copied unchanged.
std::string HashUnescape(std::string_view text);

// Characters 0-31 and the double quote: what the hosts file escapes in its fields.
TCharSet HostsFileEscapeSet();
