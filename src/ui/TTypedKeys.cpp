#include "ui/TTypedKeys.h"

bool TTypedKeys::Add(const QString& text, const QString& word) {
  for (QChar c : text)
    if (c.isPrint()) FTail.append(c);
  if (FTail.size() > FKeep) FTail.remove(0, FTail.size() - FKeep);
  if (text.isEmpty() || !FTail.endsWith(word)) return false;
  // A word once recognised does not count again for the next key.
  FTail.clear();
  return true;
}
