#pragma once
// The everything-OK sounds, a hidden mode of the desktop program: while it is on, a tick
// every two seconds tells by sound whether all hosts are fine.
#include <string>

#include "common/DateTime.h"

class THostList;

class TEverythingOK {
public:
  // No host that takes part (not a group row, not disabled) is above Online or still
  // without any result.
  static bool AllWell(const THostList& hosts, TDateTime now);
  // One tick: the sound it plays, empty for none. All well: "eoki.wav" on the first tick,
  // silence for three, then "eok.wav" on each; not well: "eokb.wav" when the good run had
  // reached its steady sound, and the run starts over.
  std::string Tick(bool allWell);
  void Reset() { FCounter = 0; }

private:
  int FCounter = 0;
};
