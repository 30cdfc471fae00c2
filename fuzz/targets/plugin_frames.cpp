// fuzz-sources: hosttests/TPluginFrames.cpp
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hosttests/TPluginFrames.h"

// Whatever a plug-in's test process sends the monitor: each field read as the reader
// does, none past the frame.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PluginFrames::TFrameReader in(std::string_view(reinterpret_cast<const char*>(data), size));
  for (int i = 0; i < 32 && in.Ok(); ++i) {
    switch (i % 4) {
      case 0: in.Int(); break;
      case 1: in.Bytes(); break;
      case 2: in.Int64(); break;
      default: in.Double(); break;
    }
  }
  return 0;
}
