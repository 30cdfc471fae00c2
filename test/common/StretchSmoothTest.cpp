#include "common/StretchSmooth.h"

#include <gtest/gtest.h>

namespace {

int Red(TRgb c) { return static_cast<int>((c >> 16) & 0xFF); }
int Green(TRgb c) { return static_cast<int>((c >> 8) & 0xFF); }
int Blue(TRgb c) { return static_cast<int>(c & 0xFF); }

}  // namespace

TEST(TBitmap24, PixelsStayInsideThePicture) {
  TBitmap24 b(3, 2, 0x102030);
  EXPECT_EQ(b.Data().size(), 18u);
  EXPECT_EQ(b.Pixel(2, 1), 0x102030u);
  b.SetPixel(1, 1, 0xABCDEF);
  b.SetPixel(3, 0, 0xFFFFFF);
  b.SetPixel(-1, 0, 0xFFFFFF);
  EXPECT_EQ(b.Pixel(1, 1), 0xABCDEFu);
  EXPECT_EQ(b.Pixel(3, 0), 0u);
  EXPECT_EQ(b.Pixel(0, 0), 0x102030u);
  EXPECT_EQ(TBitmap24(-4, 5).Data().size(), 0u);
}

TEST(StretchSmooth, AveragesTheCoveredAreaAndHonoursTransparency) {
  // A 4x4 checker of black and white halves to 2x2 mid grey; quarters to one grey pixel.
  TBitmap24 checker(4, 4, 0xFFFFFF);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if ((x + y) % 2 == 0) checker.SetPixel(x, y, 0x000000);
  TBitmap24 half(2, 2, 0x123456);
  StretchSmooth(checker, checker.Bounds(), half, half.Bounds(), 0xFF0000);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(half.Pixel(x, y), 0x808080u) << x << "," << y;

  // Left half red, right half blue, scaled 4 -> 3: the middle pixel straddles both.
  TBitmap24 split(4, 1, 0xFF0000);
  split.SetPixel(2, 0, 0x0000FF);
  split.SetPixel(3, 0, 0x0000FF);
  TBitmap24 three(3, 1);
  StretchSmooth(split, split.Bounds(), three, three.Bounds(), 0);
  EXPECT_EQ(three.Pixel(0, 0), 0xFF0000u);
  EXPECT_NEAR(Red(three.Pixel(1, 0)), 128, 1);
  EXPECT_NEAR(Blue(three.Pixel(1, 0)), 128, 1);
  EXPECT_EQ(Green(three.Pixel(1, 0)), 0);
  EXPECT_EQ(three.Pixel(2, 0), 0x0000FFu);

  // Transparent pixels give their share to the background colour, not their own.
  TBitmap24 masked(2, 2, 0xFF00FF);
  masked.SetPixel(0, 0, 0x000000);
  masked.SetTransparentColour(0xFF00FF);
  TBitmap24 one(1, 1, 0);
  StretchSmooth(masked, masked.Bounds(), one, one.Bounds(), 0xFFFFFF);
  EXPECT_EQ(Red(one.Pixel(0, 0)), 191);
  EXPECT_EQ(Green(one.Pixel(0, 0)), 191);
  EXPECT_EQ(Blue(one.Pixel(0, 0)), 191);

  // Equal sizes of the same transparent picture still replace the transparent colour.
  TBitmap24 same(2, 2, 0);
  StretchSmooth(masked, masked.Bounds(), same, same.Bounds(), 0x00FF00);
  EXPECT_EQ(same.Pixel(0, 0), 0x000000u);
  EXPECT_EQ(same.Pixel(1, 1), 0x00FF00u);
}

TEST(StretchSmooth, CopiesEqualSizesAndKeepsToTheRectangles) {
  TBitmap24 source(3, 3, 0x000000);
  source.SetPixel(1, 1, 0x112233);
  TBitmap24 target(5, 5, 0xFFFFFF);
  // Only the 2x2 block at (1,1) of the source goes to (3,3) of the target; the rest stays.
  StretchSmooth(source, {1, 1, 2, 2}, target, {3, 3, 2, 2}, 0);
  EXPECT_EQ(target.Pixel(3, 3), 0x112233u);
  EXPECT_EQ(target.Pixel(4, 4), 0x000000u);
  EXPECT_EQ(target.Pixel(2, 2), 0xFFFFFFu);
  EXPECT_EQ(target.Pixel(0, 0), 0xFFFFFFu);

  // Rectangles reaching outside are clipped; empty ones change nothing.
  TBitmap24 small(2, 2, 0xFFFFFF);
  StretchSmooth(source, {-5, -5, 100, 100}, small, {0, 0, 1, 1}, 0);
  EXPECT_NE(small.Pixel(0, 0), 0xFFFFFFu);
  EXPECT_EQ(small.Pixel(1, 1), 0xFFFFFFu);
  TBitmap24 untouched(2, 2, 0xFFFFFF);
  StretchSmooth(source, {0, 0, 0, 3}, untouched, untouched.Bounds(), 0);
  StretchSmooth(source, source.Bounds(), untouched, {5, 5, 2, 2}, 0);
  EXPECT_EQ(untouched.Pixel(0, 0), 0xFFFFFFu);

  // Growing spreads one pixel over the whole target.
  TBitmap24 dot(1, 1, 0x445566);
  TBitmap24 big(4, 4, 0);
  StretchSmooth(dot, dot.Bounds(), big, big.Bounds(), 0);
  EXPECT_EQ(big.Pixel(3, 3), 0x445566u);
}
