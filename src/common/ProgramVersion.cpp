#include "common/ProgramVersion.h"

#include <cstdio>
#include <cstdlib>

const TDateTime CorvaleReleaseDate = EncodeDate(2026, 12, 1);
const char* const CorvaleProductUrl = "https://corvale.example/";

std::string ProgramVersionNumber() {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::strtod(CORVALE_VERSION_TEXT, nullptr));
  return text;
}
