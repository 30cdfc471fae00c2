// fuzz-sources: web/TRowPlan.cpp web/WebSections.cpp web/TWebRequest.cpp common/Fields.cpp common/TextCodec.cpp common/TextUtils.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/TextCodec.h"
#include "web/TRowPlan.h"
#include "web/WebSections.h"
#include "web/WebTemplate.h"

// The rows of a page: a row template (the user's, or the default status.json's) made for
// hosts whose values are anything at all. Every value must come out as a value: never a
// variable or section of its own, and for JSON pages a document a strict reader takes.
namespace {

// A strict JSON reader: true when the whole text is one JSON value.
class TStrictJson {
public:
  explicit TStrictJson(std::string_view text) : T(text) {}
  bool Valid() {
    Blank();
    if (!Value(0)) return false;
    Blank();
    return At == T.size();
  }

private:
  void Blank() {
    while (At < T.size() && (T[At] == ' ' || T[At] == '\t' || T[At] == '\n' || T[At] == '\r')) ++At;
  }
  bool Literal(std::string_view word) {
    if (T.substr(At, word.size()) != word) return false;
    At += word.size();
    return true;
  }
  bool String() {
    if (At >= T.size() || T[At] != '"') return false;
    ++At;
    while (At < T.size()) {
      const auto c = static_cast<unsigned char>(T[At++]);
      if (c == '"') return true;
      if (c < 0x20 || c >= 0x80) return false;  // the pages are ASCII: Latin-1 goes as \u00XX
      if (c != '\\') continue;
      if (At >= T.size()) return false;
      const char e = T[At++];
      if (e == 'u') {
        for (int i = 0; i < 4; ++i, ++At)
          if (At >= T.size() || !std::isxdigit(static_cast<unsigned char>(T[At]))) return false;
      } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        return false;
      }
    }
    return false;
  }
  bool Number() {
    const std::size_t start = At;
    if (At < T.size() && T[At] == '-') ++At;
    if (At >= T.size() || !std::isdigit(static_cast<unsigned char>(T[At]))) return false;
    if (T[At] == '0') ++At;
    else
      while (At < T.size() && std::isdigit(static_cast<unsigned char>(T[At]))) ++At;
    if (At < T.size() && T[At] == '.') {
      ++At;
      if (At >= T.size() || !std::isdigit(static_cast<unsigned char>(T[At]))) return false;
      while (At < T.size() && std::isdigit(static_cast<unsigned char>(T[At]))) ++At;
    }
    return At > start;
  }
  bool Value(int depth) {
    if (depth > 64 || At >= T.size()) return false;
    const char c = T[At];
    if (c == '"') return String();
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++At;
      Blank();
      if (At < T.size() && T[At] == close) return ++At, true;
      while (true) {
        Blank();
        if (c == '{') {
          if (!String()) return false;
          Blank();
          if (At >= T.size() || T[At++] != ':') return false;
          Blank();
        }
        if (!Value(depth + 1)) return false;
        Blank();
        if (At >= T.size()) return false;
        if (T[At] == ',') {
          ++At;
          continue;
        }
        if (T[At] == close) return ++At, true;
        return false;
      }
    }
    if (c == 't') return Literal("true");
    if (c == 'f') return Literal("false");
    if (c == 'n') return Literal("null");
    return Number();
  }
  std::string_view T;
  std::size_t At = 0;
};

constexpr std::string_view StatusRow =
    R"({"id":"%id%","name":"%displayname%","status":%statuscode%,"error":"<error>%error%</error>",)"
    R"("log":[<log>"%logtext%",</log>""],"ms":%responsems%})";

// The fuzzed host: its values by variable number, its sections by number, its log lines.
class TFuzzValues : public TRowValues {
public:
  TFuzzValues(const std::vector<std::string>& values, bool json, bool html, std::uint32_t keep)
      : V(values), Json(json), Html(html), KeepBits(keep) {}
  void Append(std::string& out, int variable, const std::string&) override {
    if (variable == 1) {  // a number for programs: digits or null
      out += Json ? "null" : "";
      return;
    }
    const std::string& value = V[static_cast<std::size_t>(variable) % V.size()];
    out += Json ? JsonEscape(value) : Html ? HtmlEncode(value) : value;
  }
  bool Keep(int section) override { return (KeepBits >> (section % 32)) & 1; }
  void AppendLog(std::string& out, const std::vector<TRowNode>& content) override {
    for (int i = 0; i < 2; ++i) TRowPlan::Render(out, *this, content);
  }

private:
  const std::vector<std::string>& V;
  bool Json, Html;
  std::uint32_t KeepBits;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const int mode = data[0] % 3;  // 0 text, 1 HTML, 2 JSON
  const std::uint32_t keep = data[1] | data[2] << 8 | data[3] << 16 | static_cast<std::uint32_t>(data[4]) << 24;
  std::string_view rest(reinterpret_cast<const char*>(data) + 5, size - 5);
  // The template (not for JSON: there the default row is used), then the values, split at
  // NUL bytes.
  std::vector<std::string> parts;
  for (std::size_t at = 0;;) {
    const std::size_t nul = rest.find('\0', at);
    parts.emplace_back(rest.substr(at, nul == std::string_view::npos ? std::string_view::npos : nul - at));
    if (nul == std::string_view::npos) break;
    at = nul + 1;
  }
  const bool json = mode == 2;
  const std::string rowTemplate = json ? std::string(StatusRow) : parts[0];
  std::vector<std::string> values(parts.begin() + (json ? 0 : 1), parts.end());
  if (values.empty()) values.emplace_back();

  // Page values are literals; a few names are host variables (1: a number), the rest text.
  const std::unordered_map<std::string, std::string> page = {{"%url%", "http://h/%id%<log>"}, {"%user%", "%error%"}};
  const TRowPlan::TResolver resolve = [&](std::string_view name, bool inLog, std::string& literal) {
    const std::string lower = LowerAscii(name);
    if (const auto found = page.find(lower); found != page.end()) {
      literal = found->second;
      return TRowPlan::Literal;
    }
    if (lower == "%statuscode%" || lower == "%responsems%") return 1;
    if (lower.size() > 14) return TRowPlan::Unknown;
    return static_cast<int>(lower.size()) + (inLog ? 100 : 2);
  };
  const TRowPlan plan(rowTemplate, resolve);
  TFuzzValues host(values, json, mode == 1, keep);
  std::string rows = "[";
  for (int i = 0; i < 3; ++i) {
    if (i > 0) rows += ',';
    plan.Render(rows, host);
  }
  rows += ']';
  if (json && !TStrictJson(rows).Valid()) std::abort();
  // A value is never read again: filling the page's variables over the rows as one value
  // leaves them as they are.
  const std::string once = FillVariables(
      "<p>%rows%</p>", [&rows](std::string_view name) -> const std::string* { return name == "%rows%" ? &rows : nullptr; });
  if (once != "<p>" + rows + "</p>") std::abort();
  return 0;
}
