#pragma once
// One line cut into its delimited fields in a single pass, for readers that want many
// fields of the same line: Field(n) gives exactly what GetField(text, delim, n, quote)
// gives (Fields.h), without scanning the line again. The splitter views the text: it
// must outlive the splitter and stay unchanged.
#include <string>
#include <string_view>
#include <vector>

class TFieldSplitter {
public:
  TFieldSplitter() = default;
  TFieldSplitter(std::string_view text, char delim, char quote) { Split(text, delim, quote); }

  // Cuts a new line; the storage of the previous one is reused.
  void Split(std::string_view text, char delim, char quote);

  // The number of fields; an empty text has one, empty, field.
  int Count() const { return static_cast<int>(FFields.size()); }
  // The n-th field (1 from the left, -1 from the right), unquoted; empty for n = 0 or
  // when there are fewer fields.
  std::string Field(int n) const;
  // The n-th field as it stands in the line, quotes included.
  std::string_view RawField(int n) const;

private:
  std::vector<std::string_view> FFields;
  char FQuote = 0;
};
