#pragma once
// The status LED pictures of the host list and the web pages, drawn by the program
// itself in two sizes, and the generated JPEG icons of the web interface.
#include <optional>
#include <string>

// How many status pictures there are (icon numbers 0 to StatusIconCount() - 1).
int StatusIconCount();

enum class TIconKind { Host, Large, Small };  // "hosticon" 16x16, "largeicon" 32x32, "smallicon" 12x12
// The JPEG bytes of icon n of a kind (quality 95, small ones 80 scaled smoothly over
// white); nothing for a number outside the set. error receives the reason of an encoding
// failure.
std::optional<std::string> StatusIconJpeg(TIconKind kind, int n, std::string& error);
