// Stands in for the host actions' rule while that unit is not linked: even command
// numbers are offered. Weak, so the real rule wins wherever it is linked; the tests ask
// CommandOffered itself what to expect.
#include "web/WebCommands.h"

__attribute__((weak)) bool CommandOffered(int command, const THost*, bool, int, const TSettings&) {
  return command % 2 == 0;
}
