#include "common/StatusIcons.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

struct TDecoded {
  int Width = 0;
  int Height = 0;
  std::vector<unsigned char> Rgb;
  int Red(int x, int y) const { return Rgb[static_cast<size_t>((y * Width + x) * 3)]; }
  int Green(int x, int y) const { return Rgb[static_cast<size_t>((y * Width + x) * 3 + 1)]; }
  int Blue(int x, int y) const { return Rgb[static_cast<size_t>((y * Width + x) * 3 + 2)]; }
};

struct TDecodeFailure {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

extern "C" void DecodeFailed(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TDecodeFailure*>(info->err)->Jump, 1);
}

bool Decode(const std::string& jpeg, TDecoded& out) {
  jpeg_decompress_struct info;
  TDecodeFailure failure;
  info.err = jpeg_std_error(&failure.Manager);
  failure.Manager.error_exit = DecodeFailed;
  if (setjmp(failure.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  out.Width = static_cast<int>(info.output_width);
  out.Height = static_cast<int>(info.output_height);
  out.Rgb.resize(static_cast<size_t>(out.Width * out.Height * 3));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.Rgb.data() + static_cast<size_t>(info.output_scanline) * static_cast<size_t>(out.Width) * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

TDecoded Icon(TIconKind kind, int n) {
  std::string error;
  auto jpeg = StatusIconJpeg(kind, n, error);
  EXPECT_TRUE(jpeg.has_value()) << n << ": " << error;
  TDecoded d;
  if (jpeg) {
    EXPECT_TRUE(Decode(*jpeg, d)) << n;
  }
  return d;
}

}  // namespace

TEST(StatusIcons, EveryNumberDecodesInItsSizeWithAWhiteCorner) {
  ASSERT_GE(StatusIconCount(), 20);
  const struct {
    TIconKind Kind;
    int Size;
  } kinds[] = {{TIconKind::Host, 16}, {TIconKind::Large, 32}, {TIconKind::Small, 12}};
  for (const auto& k : kinds) {
    for (int n = 0; n < StatusIconCount(); ++n) {
      const TDecoded d = Icon(k.Kind, n);
      ASSERT_EQ(d.Width, k.Size) << n;
      ASSERT_EQ(d.Height, k.Size) << n;
      // The LED sits on white: the scaled one over the white background, not the marker.
      EXPECT_GT(d.Red(0, 0), 235) << n;
      EXPECT_GT(d.Green(0, 0), 235) << n;
      EXPECT_GT(d.Blue(0, 0), 235) << n;
    }
  }
}

TEST(StatusIcons, CentreColourTellsTheStatus) {
  // Offline red, Online green, Warning yellow; the parent-down twin is duller.
  for (TIconKind kind : {TIconKind::Host, TIconKind::Large, TIconKind::Small}) {
    const TDecoded offline = Icon(kind, 0);
    const TDecoded online = Icon(kind, 2);
    const TDecoded warning = Icon(kind, 4);
    const int c = offline.Width / 2;
    EXPECT_GT(offline.Red(c, c), offline.Green(c, c) + 80);
    EXPECT_GT(offline.Red(c, c), offline.Blue(c, c) + 80);
    EXPECT_GT(online.Green(c, c), online.Red(c, c) + 80);
    EXPECT_GT(online.Green(c, c), online.Blue(c, c) + 60);
    EXPECT_GT(warning.Red(c, c), warning.Blue(c, c) + 100);
    EXPECT_GT(warning.Green(c, c), warning.Blue(c, c) + 100);

    const TDecoded offlineParentDown = Icon(kind, 1);
    const int spread = offline.Red(c, c) - offline.Green(c, c);
    const int dullSpread = offlineParentDown.Red(c, c) - offlineParentDown.Green(c, c);
    EXPECT_GT(dullSpread, 0);
    EXPECT_LT(dullSpread, spread - 40);
  }
}

TEST(StatusIcons, PicturesDifferAndNumbersOutOfRangeAreRefused) {
  std::string error;
  std::vector<std::string> seen;
  for (int n = 0; n < StatusIconCount(); ++n) {
    auto jpeg = StatusIconJpeg(TIconKind::Large, n, error);
    ASSERT_TRUE(jpeg);
    for (const auto& other : seen) EXPECT_NE(*jpeg, other) << n;
    seen.push_back(*jpeg);
  }
  for (int n : {-1, StatusIconCount(), 1000000}) {
    for (TIconKind kind : {TIconKind::Host, TIconKind::Large, TIconKind::Small}) {
      error.clear();
      EXPECT_FALSE(StatusIconJpeg(kind, n, error)) << n;
      EXPECT_TRUE(error.empty()) << n;
    }
  }
}
