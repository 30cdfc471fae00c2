#include "web/WebSections.h"

#include <climits>
#include <vector>

#include "common/Fields.h"
#include "common/TextCodec.h"
#include "common/TextUtils.h"
#include "web/TWebRequest.h"
#include "web/WebTemplate.h"

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::size_t FindTagNoCase(const std::string& page, const std::string& lowerTag, std::size_t from) {
  if (lowerTag.empty() || from >= page.size() || page.size() > static_cast<std::size_t>(INT_MAX)) return std::string::npos;
  const int found = FindText(lowerTag, page, static_cast<int>(from) + 1, false);
  return found == 0 ? std::string::npos : static_cast<std::size_t>(found) - 1;
}

std::vector<bool> StartTagsPresent(const std::string& page, std::span<const std::string_view> names) {
  std::vector<bool> present(names.size(), false);
  std::size_t left = names.size();
  for (std::size_t at = page.find('<'); at != std::string::npos && left > 0; at = page.find('<', at + 1))
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string_view name = names[i];
      if (present[i] || page.size() - at - 1 <= name.size() || page[at + 1 + name.size()] != '>') continue;
      bool same = true;
      for (std::size_t k = 0; same && k < name.size(); ++k) {
        char c = page[at + 1 + k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        same = c == name[k];
      }
      if (same) {
        present[i] = true;
        --left;
      }
    }
  return present;
}

std::optional<TSectionPlace> FindSection(const std::string& page, const std::string& name) {
  const std::string open = "<" + LowerAscii(name) + ">";
  const std::string close = "</" + LowerAscii(name) + ">";
  const std::size_t start = FindTagNoCase(page, open, 0);
  if (start == std::string::npos) return std::nullopt;
  // Each search goes on from where it stopped: a page of many start tags stays linear.
  std::size_t nextOpen = FindTagNoCase(page, open, start + open.size());
  std::size_t nextClose = FindTagNoCase(page, close, start + open.size());
  int depth = 1;
  while (nextClose != std::string::npos) {
    if (nextOpen != std::string::npos && nextOpen < nextClose) {
      ++depth;
      nextOpen = FindTagNoCase(page, open, nextOpen + open.size());
      continue;
    }
    if (--depth == 0) return TSectionPlace{start, start + open.size(), nextClose, nextClose + close.size()};
    nextClose = FindTagNoCase(page, close, nextClose + close.size());
  }
  return std::nullopt;
}

void SetListedParameters(std::string& page, TWebRequest& request, const char* section, bool onlyNew) {
  std::string content;
  while (TakeOutSection(page, section, content)) {
    std::vector<std::string> pieces;
    SplitList(HtmlDecode(content), pieces, ';', true, '"');
    for (const std::string& piece : pieces) {
      const std::size_t equals = piece.find('=');
      if (equals == std::string::npos) continue;
      const std::string name = piece.substr(0, equals);
      if (onlyNew && request.HasParam(name)) continue;
      request.SetParam(name, piece.substr(equals + 1));
    }
  }
}

void KeepOrDropSections(std::string& page, const std::string& name, bool keep) {
  if (keep)
    UnwrapAllSections(page, name);
  else
    DropAllSections(page, name);
}

std::string JsonEscape(std::string_view text) {
  static const char Hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      out += "\\u00";
      out += Hex[byte >> 4];
      out += Hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool UnwrapSection(std::string& page, const std::string& name) {
  const auto place = FindSection(page, name);
  if (!place) return false;
  page.erase(place->End, place->After - place->End);
  page.erase(place->Start, place->Content - place->Start);
  return true;
}

bool DropSection(std::string& page, const std::string& name) {
  const auto place = FindSection(page, name);
  if (!place) return false;
  page.erase(place->Start, place->After - place->Start);
  return true;
}

bool TakeOutSection(std::string& page, const std::string& name, std::string& content) {
  const auto place = FindSection(page, name);
  if (!place) return false;
  content = page.substr(place->Content, place->End - place->Content);
  page.erase(place->Start, place->After - place->Start);
  return true;
}

void UnwrapAllSections(std::string& page, const std::string& name) {
  while (UnwrapSection(page, name)) {
  }
}

void DropAllSections(std::string& page, const std::string& name) {
  while (DropSection(page, name)) {
  }
}

void ConditionalSections(std::string& page, const TWebRequest& request) {
  for (const std::string prefix : {"var-", "novar-"}) {
    const std::string open = "<" + prefix;
    std::size_t at = 0;
    while ((at = FindTagNoCase(page, open, at)) != std::string::npos) {
      const std::size_t close = page.find('>', at);
      if (close == std::string::npos) break;
      const std::string name = page.substr(at + open.size(), close - at - open.size());
      if (name.find('<') != std::string::npos || !FindSection(page, prefix + name)) {
        at = close + 1;
        continue;
      }
      const bool filled = !request.Param(name).empty();
      KeepOrDropSections(page, prefix + name, prefix == "var-" ? filled : !filled);
    }
  }
}

std::string FillVariables(std::string_view text, const TVariableLookup& lookup) {
  constexpr std::size_t MaxNameLength = 100;
  std::string out;
  out.reserve(text.size());
  std::size_t done = 0, at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('%', at);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    const std::string* value = close - open <= MaxNameLength ? lookup(text.substr(open, close - open + 1)) : nullptr;
    if (!value) {
      at = close - open <= MaxNameLength ? close : open + 1;
      continue;
    }
    out.append(text, done, open - done);
    out += *value;
    done = at = close + 1;
  }
  out.append(text, done, std::string_view::npos);
  return out;
}
