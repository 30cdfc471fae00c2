#include "common/StretchSmooth.h"

#include <algorithm>
#include <cmath>

namespace {

TPixelRect Clipped(TPixelRect r, int width, int height) {
  const int left = std::clamp(r.Left, 0, width);
  const int top = std::clamp(r.Top, 0, height);
  const long right = std::clamp(static_cast<long>(r.Left) + std::max(r.Width, 0), 0L, static_cast<long>(width));
  const long bottom = std::clamp(static_cast<long>(r.Top) + std::max(r.Height, 0), 0L, static_cast<long>(height));
  return {left, top, static_cast<int>(std::max(0L, right - left)), static_cast<int>(std::max(0L, bottom - top))};
}

unsigned Channel(TRgb c, int shift) { return (c >> shift) & 0xFF; }

}  // namespace

void StretchSmooth(const TBitmap24& source, TPixelRect sourceRect, TBitmap24& target,
                   TPixelRect targetRect, TRgb background) {
  const TPixelRect s = Clipped(sourceRect, source.Width(), source.Height());
  const TPixelRect t = Clipped(targetRect, target.Width(), target.Height());
  if (s.Width == 0 || s.Height == 0 || t.Width == 0 || t.Height == 0) return;
  const auto transparent = source.TransparentColour();

  if (s.Width == t.Width && s.Height == t.Height && !transparent) {
    for (int y = 0; y < t.Height; ++y)
      for (int x = 0; x < t.Width; ++x) target.SetPixel(t.Left + x, t.Top + y, source.Pixel(s.Left + x, s.Top + y));
    return;
  }

  const double scaleX = static_cast<double>(s.Width) / t.Width;
  const double scaleY = static_cast<double>(s.Height) / t.Height;
  for (int ty = 0; ty < t.Height; ++ty) {
    const double y0 = ty * scaleY;
    const double y1 = (ty + 1) * scaleY;
    for (int tx = 0; tx < t.Width; ++tx) {
      const double x0 = tx * scaleX;
      const double x1 = (tx + 1) * scaleX;
      double sum[3] = {0, 0, 0};
      double counted = 0;
      for (int sy = static_cast<int>(y0); sy < s.Height && sy < y1; ++sy) {
        const double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
        if (wy <= 0) continue;
        for (int sx = static_cast<int>(x0); sx < s.Width && sx < x1; ++sx) {
          const double wx = std::min<double>(sx + 1, x1) - std::max<double>(sx, x0);
          if (wx <= 0) continue;
          const TRgb c = source.Pixel(s.Left + sx, s.Top + sy);
          if (transparent && c == *transparent) continue;
          const double w = wx * wy;
          sum[0] += w * Channel(c, 16);
          sum[1] += w * Channel(c, 8);
          sum[2] += w * Channel(c, 0);
          counted += w;
        }
      }
      const double area = (x1 - x0) * (y1 - y0);
      const double rest = std::max(0.0, area - counted);
      TRgb out = 0;
      for (int k = 0; k < 3; ++k) {
        const int shift = 16 - 8 * k;
        const double v = (sum[k] + rest * Channel(background, shift)) / area;
        out |= static_cast<TRgb>(std::clamp(std::lround(v), 0L, 255L)) << shift;
      }
      target.SetPixel(t.Left + tx, t.Top + ty, out);
    }
  }
}
