#include "common/TFieldSplitter.h"

#include "common/Fields.h"

void TFieldSplitter::Split(std::string_view text, char delim, char quote) {
  FFields.clear();
  FQuote = quote;
  const bool quoting = quote != 0;
  size_t start = 0;
  size_t stop = 0;
  for (;;) {
    while (stop < text.size() && text[stop] != delim && !(quoting && text[stop] == quote)) ++stop;
    if (stop == text.size()) break;
    // A character that is both is a quote, as GetField reads it.
    if (!quoting || text[stop] != quote) {
      FFields.push_back(text.substr(start, stop - start));
      start = ++stop;
      continue;
    }
    // A quoted stretch: it ends at a quote that a delimiter or the end of the text
    // follows and that ends an odd run of quotes counted after the opening one.
    size_t last = stop;  // the opening quote, not itself counted
    size_t run = 0;
    bool closed = false;
    for (size_t q = stop + 1; q < text.size(); ++q) {
      if (text[q] != quote) continue;
      run = q == last + 1 ? run + 1 : 1;
      last = q;
      if ((q + 1 == text.size() || text[q + 1] == delim) && run % 2 == 1) {
        closed = true;
        stop = q + 1;
        break;
      }
    }
    if (!closed) break;  // an unclosed stretch runs to the end of the text
  }
  FFields.push_back(text.substr(start));
}

std::string_view TFieldSplitter::RawField(int n) const {
  if (n == 0) return {};
  const long long count = static_cast<long long>(FFields.size());
  const long long index = n > 0 ? static_cast<long long>(n) - 1 : count + n;
  if (index < 0 || index >= count) return {};
  return FFields[static_cast<size_t>(index)];
}

std::string TFieldSplitter::Field(int n) const {
  const std::string_view raw = RawField(n);
  if (FQuote == 0) return std::string(raw);
  // Most fields hold no quote but their enclosing pair: nothing to undouble.
  const bool enclosed = raw.size() >= 2 && raw.front() == FQuote && raw.back() == FQuote;
  const std::string_view inner = enclosed ? raw.substr(1, raw.size() - 2) : raw;
  if (inner.find(FQuote) == std::string_view::npos) return std::string(inner);
  return UnquoteText(raw, FQuote);
}
