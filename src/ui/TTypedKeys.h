#pragma once
// The last characters typed, for the words that switch hidden features ("everythingok",
// "ThreadList"): only the tail is kept, and a word counts when the tail ends with it.
#include <QString>

class TTypedKeys {
public:
  explicit TTypedKeys(int keep) : FKeep(keep) {}
  // Adds the text of a key press; true when the kept characters now end with word.
  bool Add(const QString& text, const QString& word);
  const QString& Tail() const { return FTail; }

private:
  int FKeep;
  QString FTail;
};
