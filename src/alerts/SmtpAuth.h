#pragma once
// The encodings of SMTP authentication: Base64 and the answers of PLAIN and the
// challenge-response mechanisms (HMAC over MD5 or SHA-1).
#include <string>
#include <string_view>

#include "common/Base64.h"

enum class THmacHash { Md5, Sha1 };
// HMAC of message keyed with key, as lower-case hex digits (32 for MD5, 40 for SHA-1).
// A key longer than the 64-byte block is hashed first, as HMAC defines it.
std::string HmacHex(THmacHash hash, std::string_view key, std::string_view message);

// Base64 of NUL, user, NUL, password: no separate authorization identity, so the
// server authenticates and authorizes the user name itself.
std::string PlainAuthAnswer(std::string_view user, std::string_view password);
// Base64 of user + " " + HmacHex(hash, password, challenge).
std::string CramAuthAnswer(THmacHash hash, std::string_view user, std::string_view password,
                           std::string_view challenge);
