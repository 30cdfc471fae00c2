#include "common/TextCodec.h"

#include <array>

namespace {

constexpr int FirstEntityCode = 160;

// Entity names of the characters 160..254, in code order; encoding and decoding share it.
constexpr std::array<std::string_view, 95> LatinEntities = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
    "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
    "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
    "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
    "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
    "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn"};

constexpr size_t LongestEntityName = 6;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr char HexDigits[] = "0123456789ABCDEF";

// The character a reference starting at text[0] ("&name;") stands for, and its length.
bool DecodeReference(std::string_view text, char& out, size_t& length) {
  size_t semi = text.substr(0, LongestEntityName + 2).find(';', 1);
  if (semi == std::string_view::npos) return false;
  std::string_view name = text.substr(1, semi - 1);
  length = semi + 1;
  if (name == "lt") out = '<';
  else if (name == "gt") out = '>';
  else if (name == "amp") out = '&';
  else {
    size_t i = 0;
    while (i < LatinEntities.size() && LatinEntities[i] != name) ++i;
    if (i == LatinEntities.size()) return false;
    out = static_cast<char>(FirstEntityCode + i);
  }
  return true;
}

}  // namespace

std::string HtmlEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (c == '<') out.append("&lt;");
    else if (c == '>') out.append("&gt;");
    else if (c == '&') out.append("&amp;");
    else if (u >= FirstEntityCode && u < FirstEntityCode + LatinEntities.size())
      out.append("&").append(LatinEntities[u - FirstEntityCode]).append(";");
    else if (u < 32 || (u >= 127 && u < FirstEntityCode))
      out.append("&#").append(std::to_string(u)).append(";");
    else out.push_back(c);
  }
  return out;
}

std::string HtmlEncodeQuoted(std::string_view text) {
  std::string out;
  for (const char c : HtmlEncode(text)) {
    if (c == '"') out.append("&quot;");
    else if (c == '\'') out.append("&#39;");
    else out.push_back(c);
  }
  return out;
}

std::string HtmlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char decoded;
    size_t length;
    if (text[i] == '&' && DecodeReference(text.substr(i), decoded, length)) {
      out.push_back(decoded);
      i += length;
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

std::string UrlEncodeForm(std::string_view text, int equalsPos) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    auto u = static_cast<unsigned char>(text[i]);
    if (equalsPos > 0 && i + 1 == static_cast<size_t>(equalsPos)) out.push_back('=');
    else if (u == ' ') out.push_back('+');
    else if ((u >= '0' && u <= '9') || (u >= 'A' && u <= '}')) out.push_back(static_cast<char>(u));
    else {
      out.push_back('%');
      out.push_back(HexDigits[u >> 4]);
      out.push_back(HexDigits[u & 15]);
    }
  }
  return out;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Utf16ToText(const unsigned char* bytes, std::size_t count) {
  std::string out;
  if (bytes == nullptr || count < 2) return out;
  bool bigEndian = false;
  size_t i = 0;
  if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
    i = 2;
  } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
    i = 2;
    bigEndian = true;
  }
  out.reserve((count - i) / 2);
  for (; i + 1 < count; i += 2) {
    unsigned unit = bigEndian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i + 1] << 8 | bytes[i]);
    if (unit > 255) break;
    out.push_back(static_cast<char>(unit));
  }
  return out;
}

std::string Utf16ToText(std::string_view bytes) {
  return Utf16ToText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
