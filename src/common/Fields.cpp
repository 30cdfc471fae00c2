#include "common/Fields.h"

#include <utility>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

bool IsQuote(char c, char quote) { return quote != 0 && c == quote; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool EnclosedIn(std::string_view text, char quote) {
  return quote != 0 && text.size() >= 2 && text.front() == quote && text.back() == quote;
}

// The raw (still quoted) fields of a line, following the closing rule of GetField.
std::vector<std::string_view> RawFields(std::string_view text, char delim, char quote) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  bool inQuote = false;
  size_t run = 0;  // quotes in a row since the stretch opened
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsQuote(c, quote)) {
      if (!inQuote) {
        inQuote = true;
        run = 0;
      } else {
        ++run;
        const bool endsField = i + 1 == text.size() || text[i + 1] == delim;
        if (endsField && run % 2 == 1) inQuote = false;
      }
      continue;
    }
    run = 0;
    if (!inQuote && c == delim) {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  fields.push_back(text.substr(start));
  return fields;
}

std::string_view TrimControls(std::string_view text) {
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Index of the n-th delimiter outside quotes (each quote toggles), npos when fewer.
size_t NthDelimiter(std::string_view text, char delim, int n, char quote) {
  if (n < 1) return std::string_view::npos;
  bool inQuote = false;
  int count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsQuote(text[i], quote))
      inQuote = !inQuote;
    else if (!inQuote && text[i] == delim && ++count == n)
      return i;
  }
  return std::string_view::npos;
}

std::string ListWithEndDelimiters(std::string_view listText, char delim) {
  std::string list(listText);
  if (list.empty() || list.front() != delim) list.insert(list.begin(), delim);
  if (list.back() != delim) list.push_back(delim);
  return list;
}

std::string_view ItemKey(std::string_view item, char valueMarker) {
  if (valueMarker == 0) return item;
  return item.substr(0, item.find(valueMarker));
}

// The first entry of key in a list with end delimiters: returns the index of its leading
// delimiter and sets entryEnd to the index of the delimiter that ends it; npos when none.
size_t FindEntry(std::string_view list, std::string_view key, char delim, char valueMarker,
                 size_t& entryEnd) {
  for (size_t p = 0; p + key.size() + 1 < list.size(); ++p) {
    if (list[p] != delim || !SameTextAscii(list.substr(p + 1, key.size()), key)) continue;
    const size_t after = p + 1 + key.size();
    if (list[after] == delim) {
      entryEnd = after;
      return p;
    }
    if (valueMarker != 0 && list[after] == valueMarker) {
      entryEnd = list.find(delim, after + 1);
      if (entryEnd == std::string_view::npos) entryEnd = list.size() - 1;
      return p;
    }
  }
  return std::string_view::npos;
}

void RemoveEntries(std::string& list, std::string_view key, char delim, char valueMarker) {
  size_t entryEnd = 0;
  for (size_t p; (p = FindEntry(list, key, delim, valueMarker, entryEnd)) != std::string::npos;)
    list.erase(p + 1, entryEnd - p);  // keeps the leading delimiter
}

}  // namespace

std::string GetField(std::string_view text, char delim, int n, char quote) {
  if (n == 0) return {};
  const std::vector<std::string_view> fields = RawFields(text, delim, quote);
  const long long count = static_cast<long long>(fields.size());
  const long long index = n > 0 ? static_cast<long long>(n) - 1 : count + n;
  if (index < 0 || index >= count) return {};
  return UnquoteText(fields[static_cast<size_t>(index)], quote);
}

std::string UnquoteText(std::string_view text, char quote) {
  if (quote == 0) return std::string(text);
  if (EnclosedIn(text, quote)) text = text.substr(1, text.size() - 2);
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    result.push_back(text[i]);
    if (text[i] == quote && i + 1 < text.size() && text[i + 1] == quote) ++i;
  }
  return result;
}

std::string QuoteText(std::string_view text, char quote) {
  if (quote == 0) return std::string(text);
  std::string result(1, quote);
  result.reserve(text.size() + 2);
  for (char c : text) {
    result.push_back(c);
    if (c == quote) result.push_back(c);
  }
  result.push_back(quote);
  return result;
}

std::string FieldsBefore(std::string_view text, char delim, int n, char quote) {
  std::string line(TrimControls(text));
  line.push_back(delim);
  const size_t pos = NthDelimiter(line, delim, n, quote);
  if (pos == std::string::npos) return line;
  line.resize(pos);
  return line;
}

std::string FieldsAfter(std::string_view text, char delim, int n, char quote) {
  std::string line(TrimControls(text));
  line.push_back(delim);
  const size_t pos = NthDelimiter(line, delim, n, quote);
  if (pos == std::string::npos || pos + 1 >= line.size()) return {};
  return line.substr(pos + 1, line.size() - pos - 2);
}

bool SplitAt(std::string_view text, std::string_view separator, int n, std::string& before,
             std::string& after) {
  size_t found = std::string_view::npos;
  if (!separator.empty() && n >= 1) {
    size_t from = 0;
    for (int i = 0; i < n; ++i) {
      found = text.find(separator, from);
      if (found == std::string_view::npos) break;
      from = found + separator.size();
    }
  }
  // Built before assigning: text may view before or after.
  std::string head, tail;
  if (found == std::string_view::npos) {
    head = text;
  } else {
    head = text.substr(0, found);
    tail = text.substr(found + separator.size());
  }
  before = std::move(head);
  after = std::move(tail);
  return found != std::string_view::npos;
}

std::string TextBetween(std::string_view text, std::string_view open, std::string_view close, char quote,
                        int depth, int n) {
  if (open.empty() || close.empty() || n < 1 || depth == 0 || depth < -1) return {};
  int level = 0;
  int count = 0;
  int targetLevel = 0;
  size_t start = std::string_view::npos;
  bool inQuote = false;
  size_t i = 0;
  while (i < text.size()) {
    if (IsQuote(text[i], quote)) {
      inQuote = !inQuote;
      ++i;
      continue;
    }
    if (!inQuote) {
      bool isOpen = text.substr(i, open.size()) == open;
      bool isClose = level > 0 && text.substr(i, close.size()) == close;
      // When one marker is a prefix of the other the longer wins; equal markers close.
      if (isOpen && isClose) {
        if (open.size() > close.size())
          isClose = false;
        else
          isOpen = false;
      }
      if (isOpen) {
        ++level;
        if (start == std::string_view::npos && (depth == -1 || level == depth) && ++count == n) {
          start = i + open.size();
          targetLevel = level;
        }
        i += open.size();
        continue;
      }
      if (isClose) {
        if (start != std::string_view::npos && level == targetLevel) {
          std::string_view found = text.substr(start, i - start);
          if (EnclosedIn(found, quote)) found = found.substr(1, found.size() - 2);
          return std::string(found);
        }
        --level;
        i += close.size();
        continue;
      }
    }
    ++i;
  }
  return {};
}

std::string JoinList(const std::vector<std::string>& list, char sep, char quote) {
  std::string result;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) result.push_back(sep);
    const bool enclose = quote != 0 && list[i].find(sep) != std::string::npos;
    if (enclose) result.push_back(quote);
    result += list[i];
    if (enclose) result.push_back(quote);
  }
  return result;
}

void SplitList(std::string_view text, std::vector<std::string>& list, char sep, bool clear, char quote) {
  if (clear) list.clear();
  if (text.empty()) return;
  std::string item;
  bool inQuote = false;
  for (char c : text) {
    if (IsQuote(c, quote)) {
      inQuote = !inQuote;
    } else if (!inQuote && c == sep) {
      list.push_back(std::move(item));
      item.clear();
    } else {
      item.push_back(c);
    }
  }
  // The closing piece is kept even when an unbalanced quote left it open.
  list.push_back(std::move(item));
}

bool ListHasItem(std::string_view listText, std::string_view item, char delim, char valueMarker) {
  const std::string list = ListWithEndDelimiters(listText, delim);
  size_t entryEnd = 0;
  return FindEntry(list, ItemKey(item, valueMarker), delim, valueMarker, entryEnd) != std::string::npos;
}

std::string ListAddItem(std::string_view listText, std::string_view item, char delim, char valueMarker) {
  std::string list = ListWithEndDelimiters(listText, delim);
  RemoveEntries(list, ItemKey(item, valueMarker), delim, valueMarker);
  list += item;
  list.push_back(delim);
  return list;
}

std::string ListRemoveItem(std::string_view listText, std::string_view item, char delim, char valueMarker) {
  std::string list = ListWithEndDelimiters(listText, delim);
  RemoveEntries(list, ItemKey(item, valueMarker), delim, valueMarker);
  return list;
}

std::string HashEscape(std::string_view text, const TCharSet& set) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c == '#' || InSet(set, c)) {
      const auto byte = static_cast<unsigned char>(c);
      result.push_back('#');
      result.push_back(HexDigits[byte >> 4]);
      result.push_back(HexDigits[byte & 0x0F]);
    } else {
      result.push_back(c);
    }
  }
  return result;
}

std::string HashUnescape(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '#' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      result.push_back(hi >= 0 && lo >= 0 ? static_cast<char>(hi * 16 + lo) : '-');
      i += 3;
    } else {
      result.push_back(text[i++]);
    }
  }
  return result;
}

TCharSet HostsFileEscapeSet() { return CharRange(0, 31) | CharsOf("\""); }
