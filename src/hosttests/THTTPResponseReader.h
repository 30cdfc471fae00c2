#pragma once
// What a web server sends back, read as it arrives: the header block (CR LF lines, or
// bare LF lines made CR LF), then the body, sized by Content-Length, chunked, or running
// until the server closes. Knows nothing of sockets, so that every byte a server can
// send is read by this one piece of code (and can be fed to it directly).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class THTTPResponseReader {
public:
  explicit THTTPResponseReader(std::size_t maxHeaderBytes) : FMaxHeaderBytes(maxHeaderBytes) {}

  void Reset();
  // The bytes received and not taken yet; the connection appends to it.
  std::string& Buffer() { return FBuffer; }

  // Looks for the end of the header block in the buffer; true once it was found (the
  // buffer then holds what came after it). Throws std::runtime_error when the header
  // block outgrows the bound.
  bool TakeHeader();
  bool HeaderDone() const { return FHeaderDone; }
  // The header block with CR LF line ends, the blank line left off.
  const std::string& Header() const { return FHeader; }
  // The status of a header that begins "HTTP/1." or "HTTP/0."; HTTPResultNoHeader (-6)
  // for any other.
  int Status() const { return FStatus; }
  bool Versioned() const { return FVersioned; }
  std::int64_t ContentLength() const { return FContentLength; }  // -1 when not given
  bool Chunked() const { return FChunked; }

  // Appends the body bytes in the buffer to piece, without the chunk framing. Throws
  // std::runtime_error for a chunk size that cannot be read or a size line over the bound.
  void TakeBody(std::string& piece);
  // Body bytes received so far, chunk framing included.
  std::int64_t Received() const { return FReceived; }
  // The final chunk of a chunked body has come.
  bool BodyEnded() const { return FBodyEnded; }

  // The trimmed value of the first header line of that name (without regard to case);
  // empty when there is none.
  static std::string HeaderValue(std::string_view header, std::string_view name);
  static int StatusOf(std::string_view header);
  // A whole decimal (or, with base 16, hexadecimal) number of at most 15 digits;
  // fallback for anything else.
  static std::int64_t NumberOr(std::string_view text, std::int64_t fallback, int base = 10);

private:
  std::size_t FMaxHeaderBytes;
  std::string FBuffer;
  std::size_t FSearched = 0;
  bool FHeaderDone = false;
  std::string FHeader;
  int FStatus = -6;
  bool FVersioned = false;
  std::int64_t FContentLength = -1;
  bool FChunked = false;
  std::int64_t FReceived = 0;
  std::size_t FKeptBack = 0;
  enum { ChunkSize, ChunkData, ChunkEnd } FChunk = ChunkSize;
  std::int64_t FChunkLeft = 0;
  bool FBodyEnded = false;
};
