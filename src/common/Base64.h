#pragma once
// Base64 of RFC 4648 with "=" completing the last group, one alphabet for every user
// (mail authentication, the HTTP client, the web server).
#include <optional>
#include <string>
#include <string_view>

std::string Base64Encode(std::string_view bytes);
// Characters outside the Base64 alphabet (line breaks, padding) are skipped.
std::string Base64Decode(std::string_view text);
// Fails for a character outside the alphabet; "=" counts as the value 0 and still
// yields its bits, so padded input ends in zero bytes.
std::optional<std::string> Base64DecodeStrict(std::string_view text);
