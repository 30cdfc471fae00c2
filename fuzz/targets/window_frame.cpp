// fuzz-sources: platform/WindowMessages.cpp platform/TMessageQueue.cpp platform/TWindowChannel.cpp platform/FaultReport.cpp
// fuzz-libs: Qt6::Core Qt6::Network
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/WindowMessages.h"

// Whatever a local client writes to a window's socket: frames are taken one after
// another as the window takes them, each within the bytes given, and a frame that
// decodes encodes back to the very bytes it came from.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace winwire;
  const char* bytes = reinterpret_cast<const char*>(data);
  std::size_t offset = 0;
  while (offset < size) {
    TFrame frame;
    std::size_t used = 0;
    const TDecode result = DecodeFrame(bytes + offset, size - offset, frame, used);
    if (result != TDecode::Complete) break;
    if (used < HeaderSize || used > size - offset) std::abort();
    if (used != HeaderSize + frame.Payload.size()) std::abort();
    if (EncodeFrame(frame) != std::string(bytes + offset, used)) std::abort();
    offset += used;
  }
  return 0;
}
