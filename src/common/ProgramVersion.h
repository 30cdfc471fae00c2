#pragma once
// What this build calls itself: the version number and the release date shown in the
// caption, the mail header and the web pages.
#include <string>

#include "common/DateTime.h"

extern const TDateTime CorvaleReleaseDate;
// The product's web address in the mail header.
extern const char* const CorvaleProductUrl;

// The version as the shortest number ("1" for "1.00"), the way the web pages show it.
std::string ProgramVersionNumber();
