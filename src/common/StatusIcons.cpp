#include "common/StatusIcons.h"

#include "common/StretchSmooth.h"
#include "common/TBitmap24.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kIconCount = 20;
constexpr TRgb kWhite = 0xFFFFFF;
// Every LED colour has some green, and mixing it with white, grey or black keeps some, so
// this never arises from the drawing and can mark "no LED here" in the picture scaled down.
constexpr TRgb kNoLed = 0xFF00FF;

// One LED colour per even icon number; the odd number after it is the same state with a
// parent down, drawn dimmed and crossed by a dark stripe.
constexpr std::array<TRgb, kIconCount / 2> kLedColours = {
    0xE02020,  // 0 Offline
    0x20C040,  // 2 Online
    0xF0C010,  // 4 Warning
    0x30B0A0,  // 6 Online, has been offline
    0x90C020,  // 8 Online, a parent has been offline
    0x2060E0,  // 10 test running
    0x808890,  // 12 group
    0xA040C0,  // 14 disabled
    0x505050,  // 16 other status
    0x204080,  // 18 outside the time window
};

struct TShade {
  double R, G, B;
};

TShade ShadeOf(TRgb c) {
  return {static_cast<double>((c >> 16) & 0xFF), static_cast<double>((c >> 8) & 0xFF),
          static_cast<double>(c & 0xFF)};
}

TShade Mix(TShade a, TShade b, double f) {
  return {a.R + (b.R - a.R) * f, a.G + (b.G - a.G) * f, a.B + (b.B - a.B) * f};
}

TRgb RgbOf(TShade s) {
  auto ch = [](double v) { return static_cast<TRgb>(std::clamp(std::lround(v), 0L, 255L)); };
  return (ch(s.R) << 16) | (ch(s.G) << 8) | ch(s.B);
}

// The LED's own colour at a point of the unit square, or nothing outside the disc.
bool LedSample(int n, double x, double y, TShade& out) {
  const double dx = x - 0.5;
  const double dy = y - 0.5;
  const double r = std::sqrt(dx * dx + dy * dy);
  if (r > 0.45) return false;
  const bool parentDown = (n % 2) == 1;
  TShade base = ShadeOf(kLedColours[static_cast<size_t>(n / 2)]);
  if (parentDown) base = Mix(base, {128, 128, 128}, 0.55);
  if (r > 0.39) {
    out = Mix(base, {0, 0, 0}, 0.45);
    return true;
  }
  // Darker towards the lower right, a soft highlight at the upper left.
  TShade s = Mix(base, {0, 0, 0}, std::clamp((dx + dy) * 0.35, 0.0, 0.3));
  const double hx = x - 0.36;
  const double hy = y - 0.33;
  const double glow = std::exp(-(hx * hx + hy * hy) / 0.008);
  s = Mix(s, {255, 255, 255}, 0.85 * glow);
  if (parentDown && std::abs((x + y) - 1.35) < 0.08)
    s = Mix(s, {20, 20, 20}, 0.8);
  out = s;
  return true;
}

// Each pixel averages 4 x 4 samples so the disc's edge is smooth. Pixels the LED does not
// touch at all become noLed when it is given, else white.
TBitmap24 DrawLed(int n, int size, std::optional<TRgb> noLed, std::vector<std::uint8_t>* coverage = nullptr) {
  TBitmap24 picture(size, size, kWhite);
  if (coverage) coverage->assign(static_cast<size_t>(size) * static_cast<size_t>(size), 0);
  constexpr int kSub = 4;
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      TShade sum{0, 0, 0};
      int hits = 0;
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          TShade s;
          const double x = (px + (sx + 0.5) / kSub) / size;
          const double y = (py + (sy + 0.5) / kSub) / size;
          if (!LedSample(n, x, y, s)) s = {255, 255, 255};
          else ++hits;
          sum = {sum.R + s.R, sum.G + s.G, sum.B + s.B};
        }
      }
      if (coverage)
        (*coverage)[static_cast<size_t>(py) * static_cast<size_t>(size) + static_cast<size_t>(px)] =
            static_cast<std::uint8_t>((hits * 255 + kSub * kSub / 2) / (kSub * kSub));
      if (hits == 0 && noLed) {
        picture.SetPixel(px, py, *noLed);
        continue;
      }
      constexpr double kSamples = kSub * kSub;
      picture.SetPixel(px, py, RgbOf({sum.R / kSamples, sum.G / kSamples, sum.B / kSamples}));
    }
  }
  return picture;
}

struct TJpegFailure {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

extern "C" void JpegFailed(j_common_ptr info) {
  auto* failure = reinterpret_cast<TJpegFailure*>(info->err);
  (*info->err->format_message)(info, failure->Message);
  std::longjmp(failure->Jump, 1);
}

// No object with a destructor lives between setjmp and the calls that may jump back.
bool EncodeJpeg(const TBitmap24& picture, int quality, std::string& out, std::string& error) {
  jpeg_compress_struct info;
  TJpegFailure failure;
  failure.Message[0] = '\0';
  info.err = jpeg_std_error(&failure.Manager);
  failure.Manager.error_exit = JpegFailed;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  if (setjmp(failure.Jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    error = failure.Message;
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &length);
  info.image_width = static_cast<JDIMENSION>(picture.Width());
  info.image_height = static_cast<JDIMENSION>(picture.Height());
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  const auto* rows = reinterpret_cast<const unsigned char*>(picture.Data().data());
  const size_t stride = static_cast<size_t>(picture.Width()) * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(rows + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  out.assign(reinterpret_cast<const char*>(buffer), length);
  std::free(buffer);
  return true;
}

}  // namespace

int StatusIconCount() { return kIconCount; }

TBitmap24 StatusIconPicture(int n, int size, std::vector<std::uint8_t>* coverage) {
  if (n < 0 || n >= kIconCount || size <= 0) {
    if (coverage) coverage->clear();
    return {};
  }
  return DrawLed(n, size, std::nullopt, coverage);
}

std::optional<std::string> StatusIconJpeg(TIconKind kind, int n, std::string& error) {
  if (n < 0 || n >= kIconCount) return std::nullopt;
  TBitmap24 picture;
  int quality = 95;
  switch (kind) {
    case TIconKind::Host:
      picture = DrawLed(n, 16, std::nullopt);
      break;
    case TIconKind::Large:
      picture = DrawLed(n, 32, std::nullopt);
      break;
    case TIconKind::Small: {
      TBitmap24 large = DrawLed(n, 32, kNoLed);
      large.SetTransparentColour(kNoLed);
      picture = TBitmap24(12, 12, kWhite);
      StretchSmooth(large, large.Bounds(), picture, picture.Bounds(), kWhite);
      quality = 80;
      break;
    }
  }
  std::string jpeg;
  if (!EncodeJpeg(picture, quality, jpeg, error)) return std::nullopt;
  return jpeg;
}
