#pragma once
// A 24-bit picture in memory: rows of red, green and blue bytes, top row first, with an
// optional transparent colour that scalers skip.
#include <cstdint>
#include <optional>
#include <string>

// Colours are 0xRRGGBB.
using TRgb = std::uint32_t;

struct TPixelRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

class TBitmap24 {
 public:
  TBitmap24() = default;
  // Sizes below 0 count as 0; every pixel starts as fill.
  TBitmap24(int width, int height, TRgb fill = 0xFFFFFF);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TPixelRect Bounds() const { return {0, 0, FWidth, FHeight}; }

  // Outside the picture: Pixel gives 0 and SetPixel does nothing.
  TRgb Pixel(int x, int y) const;
  void SetPixel(int x, int y, TRgb colour);
  void Fill(TRgb colour);

  std::optional<TRgb> TransparentColour() const { return FTransparent; }
  void SetTransparentColour(std::optional<TRgb> colour) { FTransparent = colour; }

  // Width * Height * 3 bytes, R G B per pixel, rows top to bottom.
  const std::string& Data() const { return FData; }

 private:
  int FWidth = 0;
  int FHeight = 0;
  std::string FData;
  std::optional<TRgb> FTransparent;
};
