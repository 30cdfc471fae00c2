#pragma once
// The section machinery of the page templates, apart from the monitor so that it can be
// exercised on any text alone.
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct TWebRequest;

std::string LowerAscii(std::string_view text);
// Position of the tag (given in lower case) at or after from, letter case ignored.
std::size_t FindTagNoCase(const std::string& page, const std::string& lowerTag, std::size_t from);
// Which of the names (lower case) have a start tag "<name>" in the page, letter case
// ignored, found in one walk over the page's "<" instead of a search of the whole page for
// each name.
std::vector<bool> StartTagsPresent(const std::string& page, std::span<const std::string_view> names);

struct TSectionPlace {
  std::size_t Start = 0;    // the start tag
  std::size_t Content = 0;  // after the start tag
  std::size_t End = 0;      // the matching end tag
  std::size_t After = 0;    // after the end tag
};
// The first start tag of the name and its matching end tag; none when either is missing.
std::optional<TSectionPlace> FindSection(const std::string& page, const std::string& name);

// The "vars" (onlyNew: "defaults") sections: each complete one taken out, its content
// decoded and split at ";" outside double quotes, every piece with "=" setting the
// parameter.
void SetListedParameters(std::string& page, TWebRequest& request, const char* section, bool onlyNew);
void KeepOrDropSections(std::string& page, const std::string& name, bool keep);

// Section steps on the first start tag of the name (tags without regard to case; nested
// sections of the same name count). Unwrap keeps the content, Drop removes it, TakeOut
// removes it and returns the content. Each returns false (changing nothing) when there is
// no start tag with a matching end tag. The "All" forms repeat until none is left.
bool UnwrapSection(std::string& page, const std::string& name);
bool DropSection(std::string& page, const std::string& name);
bool TakeOutSection(std::string& page, const std::string& name, std::string& content);
void UnwrapAllSections(std::string& page, const std::string& name);
void DropAllSections(std::string& page, const std::string& name);

// Every "%word%" of the text that lookup knows (it gets the name as written, percent
// signs included) replaced by its value, in one walk: a value is never read again, so
// nothing a host or a client sent becomes a variable. Unknown names stay as written.
using TVariableLookup = std::function<const std::string*(std::string_view name)>;
std::string FillVariables(std::string_view text, const TVariableLookup& lookup);
