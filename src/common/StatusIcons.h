#pragma once
// The status LED pictures of the host list and the web pages, drawn by the program
// itself in two sizes, and the generated JPEG icons of the web interface.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/TBitmap24.h"

// How many status pictures there are (icon numbers 0 to StatusIconCount() - 1).
int StatusIconCount();

// Icon n drawn size x size over white, the picture the JPEG icons and the window's
// pixmaps are made from; coverage, when given, receives how much of each pixel (row by
// row, 0 to 255) the LED covers, so a view can draw it over any background. An empty
// picture for a number outside the set.
TBitmap24 StatusIconPicture(int n, int size, std::vector<std::uint8_t>* coverage = nullptr);

enum class TIconKind { Host, Large, Small };  // "hosticon" 16x16, "largeicon" 32x32, "smallicon" 12x12
// The JPEG bytes of icon n of a kind (quality 95, small ones 80 scaled smoothly over
// white); nothing for a number outside the set. error receives the reason of an encoding
// failure.
std::optional<std::string> StatusIconJpeg(TIconKind kind, int n, std::string& error);
