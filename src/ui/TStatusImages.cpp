#include "ui/TStatusImages.h"

#include <QImage>

#include <algorithm>
#include <cstdint>

#include "common/StatusIcons.h"

namespace {

// The picture is drawn over white; with the coverage the LED's own colour comes back, so
// the icon lies on the row background, the bar or a selection without a white square.
QPixmap LedPixmap(int n, int size) {
  std::vector<std::uint8_t> coverage;
  const TBitmap24 picture = StatusIconPicture(n, size, &coverage);
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const int a = coverage[static_cast<size_t>(y * size + x)];
      if (a == 0) continue;
      const TRgb p = picture.Pixel(x, y);
      const auto channel = [a](int over) {
        // over = c x a + 255 x (1 - a), solved for c.
        return std::clamp((over * 255 - 255 * (255 - a)) / a, 0, 255);
      };
      image.setPixel(x, y, qRgba(channel(static_cast<int>((p >> 16) & 0xFF)), channel(static_cast<int>((p >> 8) & 0xFF)),
                                 channel(static_cast<int>(p & 0xFF)), a));
    }
  }
  return QPixmap::fromImage(image);
}

}  // namespace

TStatusImages::TStatusImages() {
  for (int n = 0; n < StatusIconCount(); ++n) {
    FSmall.push_back(LedPixmap(n, SmallSize));
    FLarge.push_back(LedPixmap(n, LargeSize));
  }
}

QPixmap TStatusImages::Small(int n) const {
  return n >= 0 && n < Count() ? FSmall[static_cast<size_t>(n)] : QPixmap();
}

QPixmap TStatusImages::Large(int n) const {
  return n >= 0 && n < Count() ? FLarge[static_cast<size_t>(n)] : QPixmap();
}
