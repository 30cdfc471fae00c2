#include "hosttests/THTTPResponseReader.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "common/TextUtils.h"

namespace {

constexpr int NoHeader = -6;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

[[noreturn]] void TooLarge(const char* what, std::size_t bound) {
  throw std::runtime_error(std::string(what) + " larger than " + std::to_string(bound) + " bytes");
}

}  // namespace

std::int64_t THTTPResponseReader::NumberOr(std::string_view text, std::int64_t fallback, int base) {
  if (text.empty() || text.size() > 15) return fallback;
  std::int64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return fallback;
    value = value * base + digit;
  }
  return value;
}

std::string THTTPResponseReader::HeaderValue(std::string_view header, std::string_view name) {
  const std::string pattern = "\n" + std::string(name) + ":";
  const int at = FindText(pattern, header, 1, false);
  if (at == 0) return {};
  const std::size_t from = static_cast<std::size_t>(at - 1) + pattern.size();
  const std::size_t end = header.find('\r', from);
  return std::string(Trimmed(header.substr(from, end == std::string_view::npos ? end : end - from)));
}

int THTTPResponseReader::StatusOf(std::string_view header) {
  if (header.substr(0, 7) != "HTTP/1." && header.substr(0, 7) != "HTTP/0.") return NoHeader;
  return static_cast<int>(NumberOr(header.size() > 9 ? header.substr(9, 3) : "", NoHeader));
}

void THTTPResponseReader::Reset() {
  FBuffer.clear();
  FSearched = 0;
  FHeaderDone = false;
  FHeader.clear();
  FStatus = NoHeader;
  FVersioned = false;
  FContentLength = -1;
  FChunked = false;
  FReceived = 0;
  FKeptBack = 0;
  FChunk = ChunkSize;
  FChunkLeft = 0;
  FBodyEnded = false;
}

bool THTTPResponseReader::TakeHeader() {
  if (FHeaderDone) return true;
  const std::size_t from = FSearched > 3 ? FSearched - 3 : 0;
  if (const auto crlf = FBuffer.find("\r\n\r\n", from); crlf != std::string::npos) {
    if (crlf + 2 > FMaxHeaderBytes) TooLarge("Response header", FMaxHeaderBytes);
    FHeader.assign(FBuffer, 0, crlf + 2);
    FBuffer.erase(0, crlf + 4);
    FChunked = SameText(HeaderValue(FHeader, "transfer-encoding"), "chunked");
  } else if (const auto lf = FBuffer.find("\n\n", from); lf != std::string::npos) {
    if (lf + 1 > FMaxHeaderBytes) TooLarge("Response header", FMaxHeaderBytes);
    FHeader = ReplaceAll("\r\r\n", "\r\n", ReplaceAll("\n", "\r\n", FBuffer.substr(0, lf + 1), true), true);
    FBuffer.erase(0, lf + 2);
  } else {
    FSearched = FBuffer.size();
    if (FBuffer.size() > FMaxHeaderBytes) TooLarge("Response header", FMaxHeaderBytes);
    return false;
  }
  if (FHeader.size() > FMaxHeaderBytes) TooLarge("Response header", FMaxHeaderBytes);
  FHeaderDone = true;
  FContentLength = NumberOr(HeaderValue(FHeader, "Content-Length"), -1);
  FStatus = StatusOf(FHeader);
  FVersioned = FHeader.compare(0, 7, "HTTP/1.") == 0 || FHeader.compare(0, 7, "HTTP/0.") == 0;
  return true;
}

void THTTPResponseReader::TakeBody(std::string& piece) {
  FReceived += static_cast<std::int64_t>(FBuffer.size() - FKeptBack);
  if (!FChunked) {
    if (piece.empty()) piece.swap(FBuffer);
    else piece += FBuffer;
    FBuffer.clear();
    FKeptBack = 0;
    return;
  }
  std::string& b = FBuffer;
  std::size_t used = 0;
  while (!FBodyEnded) {
    if (FChunk == ChunkData) {
      const auto take = static_cast<std::size_t>(std::min<std::int64_t>(FChunkLeft, b.size() - used));
      piece.append(b, used, take);
      used += take;
      FChunkLeft -= static_cast<std::int64_t>(take);
      if (FChunkLeft > 0) break;
      FChunk = ChunkEnd;
      continue;
    }
    const std::size_t end = b.find("\r\n", used);
    if (end == std::string::npos) {
      if (b.size() - used > FMaxHeaderBytes)
        throw std::runtime_error("Chunk size line longer than " + std::to_string(FMaxHeaderBytes) + " bytes");
      break;
    }
    if (FChunk == ChunkEnd) {
      // The CR LF after a chunk's data.
      FChunk = ChunkSize;
    } else {
      // A chunk extension (";name=value") says nothing about the size.
      std::string_view line(b.data() + used, end - used);
      line = Trimmed(line.substr(0, line.find(';')));
      const std::int64_t size = NumberOr(line, -1, 16);
      if (size < 0) {
        b.erase(0, end + 2);
        FKeptBack = b.size();
        throw std::runtime_error("Chunk size not readable");
      }
      if (size == 0) {
        FBodyEnded = true;
      } else {
        FChunkLeft = size;
        FChunk = ChunkData;
      }
    }
    used = end + 2;
  }
  b.erase(0, used);
  FKeptBack = b.size();
}
