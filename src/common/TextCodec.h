#pragma once
// The HTML and URL codings of the web interface and the conversion of UTF-16 command
// output to single-byte text.
#include <cstddef>
#include <string>
#include <string_view>

// "<", ">" and "&" as "&lt;", "&gt;", "&amp;"; 160..254 as their named Latin-1 entities;
// control characters (below 32 and 127..159) as "&#" + decimal code + ";".
std::string HtmlEncode(std::string_view text);
// HtmlEncode with the quotes as "&quot;" and "&#39;" too: for text from outside that a
// page may put inside an attribute value.
std::string HtmlEncodeQuoted(std::string_view text);
// Decodes "&lt;", "&gt;", "&amp;" and the named Latin-1 entities of 160..254 (names
// compared exactly); every other "&" stays. Numeric references are left as they are.
std::string HtmlDecode(std::string_view text);

// Form encoding: blank as "+", digits and "A".."}" as they are, everything else as "%"
// and two upper-case hex digits; the character at equalsPos (1-based, 0 for none)
// becomes "=" whatever it is.
std::string UrlEncodeForm(std::string_view text, int equalsPos = 0);
// "+" as blank and "%" with two hex digits as that byte; any other "%" stays.
std::string UrlDecode(std::string_view text);

// UTF-16 (byte order mark FF FE or FE FF honoured, little-endian without one) to
// Latin-1. Conversion stops at the first unit above 255; an odd last byte is ignored.
std::string Utf16ToText(const unsigned char* bytes, std::size_t count);
std::string Utf16ToText(std::string_view bytes);
