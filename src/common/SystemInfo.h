#pragma once
// Names of this computer and its user, and a clock for timing tests and replies.
#include <string>

// The host name without its domain part; empty when the system will not tell.
std::string LocalComputerName();
// The login name of the effective user; $USER when the user database has no entry.
std::string LocalUserName();
// Milliseconds from a monotonic clock with an arbitrary start; only differences matter.
double MillisecondClock();
