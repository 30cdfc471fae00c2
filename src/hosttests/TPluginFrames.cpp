#include "hosttests/TPluginFrames.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace PluginFrames {

namespace {

template <typename T>
void Append(std::string& data, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  data.append(bytes, sizeof(T));
}

bool ReadAll(int fd, char* out, std::size_t size, bool& atEnd) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, out + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      atEnd = got == 0 && done == 0;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

TFrameWriter::TFrameWriter(TFrameType type) {
  FData.assign(4, '\0');
  FData.push_back(static_cast<char>(type));
}

TFrameWriter& TFrameWriter::Int(std::int32_t value) {
  Append(FData, value);
  return *this;
}

TFrameWriter& TFrameWriter::Int64(std::int64_t value) {
  Append(FData, value);
  return *this;
}

TFrameWriter& TFrameWriter::Double(double value) {
  Append(FData, value);
  return *this;
}

TFrameWriter& TFrameWriter::Bytes(std::string_view value) {
  Append(FData, static_cast<std::uint32_t>(value.size()));
  FData.append(value);
  return *this;
}

const std::string& TFrameWriter::Finish() {
  const auto length = static_cast<std::uint32_t>(FData.size() - 4);
  std::memcpy(FData.data(), &length, 4);
  return FData;
}

TFrameReader::TFrameReader(std::string_view frame) : FData(frame) {
  if (frame.empty())
    FOk = false;
  else
    FType = static_cast<TFrameType>(frame[0]);
}

bool TFrameReader::Take(void* out, std::size_t size) {
  if (!FOk || FData.size() - FPos < size) {
    FOk = false;
    std::memset(out, 0, size);
    return false;
  }
  std::memcpy(out, FData.data() + FPos, size);
  FPos += size;
  return true;
}

std::int32_t TFrameReader::Int() {
  std::int32_t value;
  Take(&value, sizeof value);
  return value;
}

std::int64_t TFrameReader::Int64() {
  std::int64_t value;
  Take(&value, sizeof value);
  return value;
}

double TFrameReader::Double() {
  double value;
  Take(&value, sizeof value);
  return value;
}

std::string TFrameReader::Bytes(std::uint32_t limit) {
  std::uint32_t length;
  if (!Take(&length, sizeof length)) return {};
  if (length > limit || FData.size() - FPos < length) {
    FOk = false;
    return {};
  }
  std::string value(FData.substr(FPos, length));
  FPos += length;
  return value;
}

bool WriteFrame(int fd, const std::string& frame) {
  std::size_t done = 0;
  while (done < frame.size()) {
    // A peer that is gone must be an error here, not a signal that ends the program.
    ssize_t put = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (put < 0 && errno == ENOTSOCK) put = ::write(fd, frame.data() + done, frame.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool ReadFrame(int fd, std::string& frame, std::string& error) {
  error.clear();
  std::uint32_t length = 0;
  bool atEnd = false;
  if (!ReadAll(fd, reinterpret_cast<char*>(&length), sizeof length, atEnd)) {
    if (!atEnd) error = "the frame's length was cut short";
    return false;
  }
  if (length == 0 || length > MaxFrame) {
    error = "a frame of " + std::to_string(length) + " bytes";
    return false;
  }
  frame.resize(length);
  if (!ReadAll(fd, frame.data(), length, atEnd)) {
    error = "a frame was cut short";
    return false;
  }
  return true;
}

}  // namespace PluginFrames
