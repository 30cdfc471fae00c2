#include "common/TBitmap24.h"

#include <algorithm>

TBitmap24::TBitmap24(int width, int height, TRgb fill)
    : FWidth(std::max(width, 0)), FHeight(std::max(height, 0)) {
  FData.resize(static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight) * 3);
  Fill(fill);
}

TRgb TBitmap24::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return 0;
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(FWidth) + static_cast<size_t>(x)) * 3;
  return (TRgb(static_cast<unsigned char>(FData[at])) << 16) |
         (TRgb(static_cast<unsigned char>(FData[at + 1])) << 8) |
         TRgb(static_cast<unsigned char>(FData[at + 2]));
}

void TBitmap24::SetPixel(int x, int y, TRgb colour) {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(FWidth) + static_cast<size_t>(x)) * 3;
  FData[at] = static_cast<char>((colour >> 16) & 0xFF);
  FData[at + 1] = static_cast<char>((colour >> 8) & 0xFF);
  FData[at + 2] = static_cast<char>(colour & 0xFF);
}

void TBitmap24::Fill(TRgb colour) {
  for (size_t at = 0; at + 2 < FData.size(); at += 3) {
    FData[at] = static_cast<char>((colour >> 16) & 0xFF);
    FData[at + 1] = static_cast<char>((colour >> 8) & 0xFF);
    FData[at + 2] = static_cast<char>(colour & 0xFF);
  }
}
