#pragma once
// The pipe protocol between the monitor and a plug-in's test process: frames of a 32-bit
// length, a type byte and fields (32-bit and 64-bit little-endian integers, doubles, byte
// strings with a 32-bit length). Both sides refuse a frame longer than MaxFrame and a
// field that runs past its frame, so neither trusts what the other sends.
#include <cstdint>
#include <string>
#include <string_view>

namespace PluginFrames {

// The settings block travels in one frame: the largest settings file read, and room.
constexpr std::uint32_t MaxSettingsBytes = 16 * 1024 * 1024;
constexpr std::uint32_t MaxFrame = MaxSettingsBytes + 256 * 1024;
// A text field of a test or a callback (names, addresses, messages).
constexpr std::uint32_t MaxText = 64 * 1024;

enum TFrameType : std::uint8_t {
  ftInit = 'I',   // monitor: plug-in index, settings block, length, capacity
  ftReady = 'Y',  // process: 1 loaded, or 0 and why not
  ftTest = 'T',   // monitor: ticket, test number, host ID, display name, address, parameter
  ftDone = 'D',   // process: ticket, result, error code, message, response time, address, fatal, fault text
  ftCall = 'C',   // process: call ID, callback, its arguments
  ftReply = 'R',  // monitor: call ID, result, the callback's outputs
};

// The callbacks a test process passes on (ftCall).
enum TCallback : std::int32_t { cbLog = 1, cbEmail, cbVariables, cbVariablesMenu, cbHostInfo, cbHostConnection };

class TFrameWriter {
public:
  explicit TFrameWriter(TFrameType type);
  TFrameWriter& Int(std::int32_t value);
  TFrameWriter& Int64(std::int64_t value);
  TFrameWriter& Double(double value);
  TFrameWriter& Bytes(std::string_view value);
  // The frame with its length in front.
  const std::string& Finish();

private:
  std::string FData;
};

class TFrameReader {
public:
  // frame: the type byte and the fields, without the length.
  explicit TFrameReader(std::string_view frame);
  // The reader only views the frame: a temporary would be gone before the first field.
  explicit TFrameReader(std::string&&) = delete;
  TFrameType Type() const { return FType; }
  std::int32_t Int();
  std::int64_t Int64();
  double Double();
  // A string of at most limit bytes; a longer or cut field makes the reader fail.
  std::string Bytes(std::uint32_t limit = MaxText);
  // False once a field was missing or too long: the frame is refused.
  bool Ok() const { return FOk; }

private:
  bool Take(void* out, std::size_t size);
  std::string_view FData;
  std::size_t FPos = 1;
  TFrameType FType{};
  bool FOk = true;
};

// The whole frame written (retried after EINTR); false when the pipe is gone.
bool WriteFrame(int fd, const std::string& frame);
// One frame (type and fields); false at the end of the pipe, on an error or a frame
// longer than MaxFrame (error says which; empty for a clean end).
bool ReadFrame(int fd, std::string& frame, std::string& error);

}  // namespace PluginFrames
