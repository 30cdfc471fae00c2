#include "platform/RegistryFile.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr std::uint32_t TypeSz = 1;
constexpr std::uint32_t TypeExpandSz = 2;
constexpr std::uint32_t TypeBinary = 3;
constexpr std::uint32_t TypeDword = 4;

const char HexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '"' || c == '%' || c == '[' || c == ']';
}

// In a key path "\" separates the names, so inside a name it is escaped as well.
void AppendEscaped(std::string& out, std::string_view s, bool keyName = false) {
  for (unsigned char c : s) {
    if (NeedsEscape(c) || (keyName && c == '\\')) {
      out += '%';
      out += HexDigits[c >> 4];
      out += HexDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
}

std::optional<std::string> Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return std::nullopt;
    int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

// A quoted, escaped text at the start of s; on success s is advanced past it.
std::optional<std::string> TakeQuoted(std::string_view& s) {
  if (s.empty() || s[0] != '"') return std::nullopt;
  size_t end = s.find('"', 1);
  if (end == std::string_view::npos) return std::nullopt;
  auto text = Unescape(s.substr(1, end - 1));
  if (text) s.remove_prefix(end + 1);
  return text;
}

std::optional<std::uint32_t> ParseHex32(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : s) {
    int d = HexValue(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  return v;
}

std::optional<std::string> ParseHexBytes(std::string_view s) {
  std::string out;
  if (s.empty()) return out;
  for (size_t i = 0;; i += 3) {
    if (i + 2 > s.size()) return std::nullopt;
    int hi = HexValue(s[i]), lo = HexValue(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    if (i + 2 == s.size()) return out;
    if (s[i + 2] != ',') return std::nullopt;
  }
}

// The value of a line such as "name"=dword:0000002a, or a reason why it is not one.
std::optional<TRegValue> ParseValueLine(std::string_view line, std::string& reason) {
  TRegValue v;
  if (line[0] != '"') {
    reason = "neither a key nor a value line";
    return std::nullopt;
  }
  auto name = TakeQuoted(line);
  if (!name) {
    reason = "bad value name";
    return std::nullopt;
  }
  v.Name = *name;
  if (line.empty() || line[0] != '=') {
    reason = "'=' expected after the value name";
    return std::nullopt;
  }
  line.remove_prefix(1);
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    reason = "value type expected";
    return std::nullopt;
  }
  std::string_view kind = line.substr(0, colon), payload = line.substr(colon + 1);
  if (kind == "sz" || kind == "expand_sz") {
    auto text = TakeQuoted(payload);
    if (!text || !payload.empty()) {
      reason = "bad quoted text";
      return std::nullopt;
    }
    v.Type = kind == "sz" ? TypeSz : TypeExpandSz;
    v.Data = *text + '\0';
    return v;
  }
  if (kind == "dword") {
    auto n = ParseHex32(payload);
    if (!n) {
      reason = "bad dword (1 to 8 hexadecimal digits expected)";
      return std::nullopt;
    }
    v.Type = TypeDword;
    for (int i = 0; i < 4; ++i) v.Data += static_cast<char>((*n >> (8 * i)) & 0xFF);
    return v;
  }
  std::optional<std::uint32_t> type;
  if (kind == "hex") {
    type = TypeBinary;
  } else if (kind.size() > 5 && kind.substr(0, 4) == "hex(" && kind.back() == ')') {
    type = ParseHex32(kind.substr(4, kind.size() - 5));
  }
  if (!type) {
    reason = "unknown value type";
    return std::nullopt;
  }
  auto bytes = ParseHexBytes(payload);
  if (!bytes) {
    reason = "bad hexadecimal bytes";
    return std::nullopt;
  }
  v.Type = *type;
  v.Data = std::move(*bytes);
  return v;
}

std::optional<std::vector<std::string>> ParseKeyLine(std::string_view line) {
  std::vector<std::string> parts;
  std::string_view body = line.substr(1, line.size() - 2);
  if (body.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  for (const std::string& raw : SplitRegPath(body)) {
    auto part = Unescape(raw);
    if (!part) return std::nullopt;
    parts.push_back(std::move(*part));
  }
  return parts;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

void FormatValue(std::string& out, const TRegValue& v) {
  out += '"';
  AppendEscaped(out, v.Name);
  out += "\"=";
  const std::string& d = v.Data;
  if ((v.Type == TypeSz || v.Type == TypeExpandSz) && !d.empty() && d.back() == '\0') {
    out += v.Type == TypeSz ? "sz:\"" : "expand_sz:\"";
    AppendEscaped(out, std::string_view(d).substr(0, d.size() - 1));
    out += '"';
  } else if (v.Type == TypeDword && d.size() == 4) {
    std::uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = n * 256 + static_cast<unsigned char>(d[i]);
    out += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) out += HexDigits[(n >> shift) & 15];
  } else {
    if (v.Type == TypeBinary) {
      out += "hex:";
    } else {
      char buf[20];
      snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.Type));
      out += buf;
    }
    for (size_t i = 0; i < d.size(); ++i) {
      if (i) out += ',';
      unsigned char c = static_cast<unsigned char>(d[i]);
      out += HexDigits[c >> 4];
      out += HexDigits[c & 15];
    }
  }
  out += '\n';
}

void FormatNode(std::string& out, const TRegNode& node, std::string& path, bool isRoot) {
  if (!isRoot || !node.Values.empty() || !node.KeptLines.empty()) {
    out += '[';
    out += path;
    out += "]\n";
    for (const TRegValue& v : node.Values) FormatValue(out, v);
    for (const std::string& line : node.KeptLines) {
      out += line;
      out += '\n';
    }
  }
  for (const auto& [folded, child] : node.Children) {
    size_t mark = path.size();
    if (!isRoot) path += '\\';
    AppendEscaped(path, child->Name, true);
    FormatNode(out, *child, path, false);
    path.resize(mark);
  }
}

}  // namespace

std::string RegFoldCase(std::string_view name) {
  std::string out(name);
  for (char& ch : out) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
      ch = static_cast<char>(c + 0x20);
  }
  return out;
}

bool RegSameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && RegFoldCase(a) == RegFoldCase(b);
}

std::vector<std::string> SplitRegPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

TRegNode* TRegNode::FindChild(std::string_view name) const {
  auto it = Children.find(RegFoldCase(name));
  return it == Children.end() ? nullptr : it->second.get();
}

TRegNode& TRegNode::EnsureChild(std::string_view name) {
  auto& slot = Children[RegFoldCase(name)];
  if (!slot) {
    slot = std::make_unique<TRegNode>();
    slot->Name = std::string(name);
  }
  return *slot;
}

bool TRegNode::RemoveChild(std::string_view name) { return Children.erase(RegFoldCase(name)) > 0; }

TRegNode* TRegNode::Find(const std::vector<std::string>& path) {
  TRegNode* node = this;
  for (const std::string& part : path) {
    node = node->FindChild(part);
    if (!node) return nullptr;
  }
  return node;
}

const TRegValue* TRegNode::FindValue(std::string_view name) const {
  for (const TRegValue& v : Values)
    if (RegSameName(v.Name, name)) return &v;
  return nullptr;
}

void TRegNode::SetValue(std::string_view name, std::uint32_t type, std::string_view data) {
  for (TRegValue& v : Values) {
    if (RegSameName(v.Name, name)) {
      v.Type = type;
      v.Data = std::string(data);
      return;
    }
  }
  Values.push_back({std::string(name), type, std::string(data)});
}

bool TRegNode::RemoveValue(std::string_view name) {
  auto it = std::find_if(Values.begin(), Values.end(),
                         [&](const TRegValue& v) { return RegSameName(v.Name, name); });
  if (it == Values.end()) return false;
  Values.erase(it);
  return true;
}

std::unique_ptr<TRegNode> ParseRegistryText(std::string_view text,
                                            std::vector<std::string>& warnings) {
  auto root = std::make_unique<TRegNode>();
  TRegNode* current = root.get();
  bool inBadKey = false;  // lines after an unreadable key line stay with it
  size_t lineNo = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    std::string_view line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;

    std::string reason;
    if (line[0] == '[') {
      std::optional<std::vector<std::string>> path;
      if (line.size() >= 2 && line.back() == ']') path = ParseKeyLine(line);
      if (path) {
        current = root.get();
        for (const std::string& part : *path) current = &current->EnsureChild(part);
        inBadKey = false;
        continue;
      }
      inBadKey = true;
      reason = "unreadable key line; it and the lines under it are kept as they are";
    } else if (inBadKey) {
      current->KeptLines.emplace_back(raw);
      continue;
    } else if (auto value = ParseValueLine(line, reason)) {
      if (!current->FindValue(value->Name)) {
        current->SetValue(value->Name, value->Type, value->Data);
        continue;
      }
      reason = "the value is given twice in this key; the first one counts";
    }
    current->KeptLines.emplace_back(raw);
    warnings.push_back("line " + std::to_string(lineNo) + ": " + reason);
  }
  return root;
}

std::string FormatRegistryText(const TRegNode& root, std::string_view title) {
  std::string out = "; ";
  out += title;
  out += '\n';
  std::string path;
  FormatNode(out, root, path, true);
  return out;
}
