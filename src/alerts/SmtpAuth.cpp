#include "alerts/SmtpAuth.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

std::string HmacHex(THmacHash hash, std::string_view key, std::string_view message) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const EVP_MD* md = hash == THmacHash::Md5 ? EVP_md5() : EVP_sha1();
  if (!HMAC(md, key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
            message.size(), digest, &length))
    return {};
  static const char Hex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += Hex[digest[i] >> 4];
    text += Hex[digest[i] & 15];
  }
  return text;
}

std::string PlainAuthAnswer(std::string_view user, std::string_view password) {
  std::string raw(1, '\0');
  raw += user;
  raw += '\0';
  raw += password;
  return Base64Encode(raw);
}

std::string CramAuthAnswer(THmacHash hash, std::string_view user, std::string_view password,
                           std::string_view challenge) {
  std::string raw(user);
  raw += ' ';
  raw += HmacHex(hash, password, challenge);
  return Base64Encode(raw);
}
