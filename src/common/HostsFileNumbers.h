#pragma once
// Numbers as the hosts file writes and reads them. The decimal separator written is
// always "." whatever the process locale says, so a file reads the same everywhere;
// reading also takes "," (files from systems whose separator is a comma).
#include <cstdint>
#include <string>
#include <string_view>

// Up to 15 significant digits in plain decimal form: no exponent, no trailing zeros,
// no decimal point for whole values (3 gives "3", 0.1 + 0.2 gives "0.3", 1e-7 gives
// "0.0000001"). Values that are not finite give "0".
std::string FormatGeneralNumber(double value);

// Rounded to 7 decimal places, half away from zero. Values too large to carry
// fractions of 1e-7 come back unchanged; values that are not finite give 0.
double RoundTo7Decimals(double value);

// The value rounded to 7 decimal places and formatted, in double quotes ("\"3\"").
std::string QuotedNumber(double value);

// A decimal number with optional sign, fraction ("." or one ",") and exponent, blanks
// allowed around it. False (value untouched) for anything else, hexadecimal,
// infinities, NaN and thousands separators included.
bool ParseNumber(std::string_view text, double& value);

// A decimal integer with optional sign, blanks allowed around it; false (value
// untouched) for anything else or a value outside the 64-bit range.
bool ParseInteger(std::string_view text, std::int64_t& value);

// Fields 3 and 6 of a host line: lower-cased, a value ending in "s" or "sec" is in
// seconds, otherwise in minutes; only "," "." and digits are kept. Returns minutes, or
// defaultMinutes when what is kept does not convert ("90 sec" gives 1.5, "2" gives 2).
double ParseIntervalText(std::string_view text, double defaultMinutes);
