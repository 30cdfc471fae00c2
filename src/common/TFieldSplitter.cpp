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
    for (size_t q = text.find(quote, stop + 1); q != std::string_view::npos; q = text.find(quote, q + 1)) {
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

std::string TFieldSplitter::Field(int n) const { return UnquoteText(RawField(n), FQuote); }
