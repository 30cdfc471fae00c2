#include "platform/WindowMessages.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/SysErrors.h"
#include "platform/TMessageQueue.h"
#include "platform/TWindowChannel.h"

namespace winwire {

namespace {

void Put16(std::string& out, std::uint16_t v) {
  for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
std::uint64_t GetLE(const char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

bool PlainNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

}  // namespace

std::string EncodeFrame(const TFrame& frame) {
  std::string out;
  out.reserve(HeaderSize + frame.Payload.size());
  Put32(out, Magic);
  Put16(out, static_cast<std::uint16_t>(frame.Kind));
  Put16(out, 0);
  Put32(out, frame.Msg);
  Put32(out, static_cast<std::uint32_t>(frame.Payload.size()));
  Put64(out, frame.WParam);
  Put64(out, static_cast<std::uint64_t>(frame.LParam));
  Put64(out, frame.Sender);
  out += frame.Payload;
  return out;
}

TDecode DecodeFrame(const char* data, std::size_t size, TFrame& frame, std::size_t& consumed) {
  // Judge the header as soon as its fields arrive, so garbage is refused without waiting.
  if (size >= 4 && GetLE(data, 4) != Magic) return TDecode::Malformed;
  if (size < HeaderSize) return TDecode::NeedMore;
  const auto kind = static_cast<std::uint16_t>(GetLE(data + 4, 2));
  if (kind < 1 || kind > 4 || GetLE(data + 6, 2) != 0) return TDecode::Malformed;
  const auto msg = static_cast<std::uint32_t>(GetLE(data + 8, 4));
  const std::size_t length = GetLE(data + 12, 4);
  const auto k = static_cast<TFrameKind>(kind);
  const bool mayCarry = k == TFrameKind::Reply || (k == TFrameKind::Send && msg == winmsg::WM_COPYDATA);
  if (length > winmsg::MaxCopyDataSize || (length > 0 && !mayCarry)) return TDecode::Malformed;
  if (k == TFrameKind::Post && msg == winmsg::WM_COPYDATA) return TDecode::Malformed;
  if (size < HeaderSize + length) return TDecode::NeedMore;
  frame.Kind = k;
  frame.Msg = msg;
  frame.WParam = GetLE(data + 16, 8);
  frame.LParam = static_cast<std::int64_t>(GetLE(data + 24, 8));
  frame.Sender = GetLE(data + 32, 8);
  frame.Payload.assign(data + HeaderSize, length);
  consumed = HeaderSize + length;
  return TDecode::Complete;
}

std::string SocketName(const std::string& className, std::uintptr_t hwnd) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : className) {
    if (PlainNameByte(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out + "@" + std::to_string(hwnd);
}

bool ParseSocketName(const std::string& name, std::string& className, std::uintptr_t& hwnd) {
  const auto at = name.rfind('@');
  if (at == std::string::npos || at == 0) return false;
  const std::string digits = name.substr(at + 1);
  if (digits.empty() || digits.size() > 20 || digits[0] == '0' ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  errno = 0;
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
  if (errno != 0 || value > UINTPTR_MAX) return false;
  std::string decoded;
  for (std::size_t i = 0; i < at; ++i) {
    if (name[i] != '%') {
      decoded.push_back(name[i]);
      continue;
    }
    if (i + 2 >= at) return false;
    auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    const int hi = nibble(name[i + 1]), lo = nibble(name[i + 2]);
    if (hi < 0 || lo < 0) return false;
    decoded.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  // Only the one spelling SocketName produces counts, so a class has exactly one name.
  if (SocketName(decoded, static_cast<std::uintptr_t>(value)) != name) return false;
  className = decoded;
  hwnd = static_cast<std::uintptr_t>(value);
  return true;
}

}  // namespace winwire

namespace {

using namespace winwire;
using TSteady = std::chrono::steady_clock;

constexpr int ErrInvalidParameter = syserr::ERROR_INVALID_PARAMETER;
constexpr int ErrInvalidWindowHandle = winmsg::ERROR_INVALID_WINDOW_HANDLE;
constexpr int ErrTimeout = winmsg::ERROR_TIMEOUT;
constexpr int ErrQueueFull = winmsg::ERROR_NOT_ENOUGH_QUOTA;
// Posting and reading a caption need only the window's socket thread, never its owner.
constexpr unsigned QuickCallMs = 5000;

// Creates the folder when missing and accepts it only as a real folder of this user
// that no one else may enter: one made by someone else, or left open, may hold what
// another user put there.
bool EnsurePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Without a runtime folder the user's own cache folder is used: a fixed name in a
// folder every user may write to could be taken by another user first.
std::string FallbackWindowBase() {
  std::string home;
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') home = env;
  if (home.empty()) {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
      home = found->pw_dir;
  }
  if (home.empty()) return std::string();
  const std::string cache = home + "/.cache";
  ::mkdir(cache.c_str(), 0700);
  return cache + "/corvale";
}

struct TWindowFile {
  std::string Path;
  std::uintptr_t Handle = 0;
  struct timespec MTime {};
  dev_t Dev = 0;
  ino_t Ino = 0;
};

// The socket files of the class (or, with an empty class, of the handle).
std::vector<TWindowFile> ListWindowFiles(const std::string& className, std::uintptr_t handle) {
  std::vector<TWindowFile> files;
  const std::string folder = WindowFolder();
  if (folder.empty()) return files;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return files;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string cls;
    std::uintptr_t hwnd = 0;
    if (!ParseSocketName(entry->d_name, cls, hwnd)) continue;
    if (className.empty() ? hwnd != handle : cls != className) continue;
    TWindowFile file;
    file.Path = folder + "/" + entry->d_name;
    file.Handle = hwnd;
    struct stat st {};
    if (::lstat(file.Path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    file.MTime = st.st_mtim;
    file.Dev = st.st_dev;
    file.Ino = st.st_ino;
    files.push_back(std::move(file));
  }
  ::closedir(dir);
  return files;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

// Removes a socket file nobody listens on any more, unless it was replaced meanwhile.
void RemoveStale(const TWindowFile& file) {
  struct stat st {};
  if (::lstat(file.Path.c_str(), &st) == 0 && st.st_dev == file.Dev && st.st_ino == file.Ino)
    ::unlink(file.Path.c_str());
}

enum class TProbe { Live, Stale, Gone };

TProbe Probe(const TWindowFile& file) {
  sockaddr_un addr;
  if (!FillAddress(file.Path, addr)) return TProbe::Gone;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return TProbe::Gone;
  const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  const int err = errno;
  ::close(fd);
  // A full backlog (EAGAIN) still means someone listens.
  if (rc == 0 || err == EAGAIN || err == EINPROGRESS) return TProbe::Live;
  return err == ECONNREFUSED ? TProbe::Stale : TProbe::Gone;
}

int RemainingMs(TSteady::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TSteady::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// A socket connected to the window, or -1 with error set.
int ConnectWindow(std::uintptr_t hwnd, TSteady::time_point deadline, int& error) {
  const auto files = ListWindowFiles(std::string(), hwnd);
  error = ErrInvalidWindowHandle;
  if (files.empty()) return -1;
  const TWindowFile& file = files.front();
  sockaddr_un addr;
  if (!FillAddress(file.Path, addr)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A blocking connect waits for room in a full backlog, bounded by the send time-out.
  for (;;) {
    const int ms = std::max(RemainingMs(deadline), 1);
    struct timeval tv {ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
    const int err = errno;
    if (err == EINTR && RemainingMs(deadline) > 0) continue;
    ::close(fd);
    if (err == ECONNREFUSED) RemoveStale(file);
    if (err == EAGAIN || err == EINTR || err == ETIMEDOUT) error = ErrTimeout;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

bool WriteAll(int fd, const std::string& bytes, TSteady::time_point deadline, int& error) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      error = ErrInvalidWindowHandle;
      return false;
    }
    struct pollfd p {fd, POLLOUT, 0};
    const int ms = RemainingMs(deadline);
    if (ms == 0 || ::poll(&p, 1, ms) == 0) {
      error = ErrTimeout;
      return false;
    }
  }
  return true;
}

// Waits for the answer; the calling thread's own windows keep receiving sent messages
// meanwhile, as a window that answers by sending back to the caller must not hang.
bool ReadReply(int fd, TSteady::time_point deadline, TFrame& reply, int& error) {
  const auto queue = TMessageQueue::Current();
  std::string buffer;
  char chunk[65536];
  for (;;) {
    std::size_t used = 0;
    switch (DecodeFrame(buffer.data(), buffer.size(), reply, used)) {
      case TDecode::Complete:
        if (reply.Kind == TFrameKind::Reply) return true;
        [[fallthrough]];
      case TDecode::Malformed:
        error = ErrInvalidWindowHandle;
        return false;
      case TDecode::NeedMore:
        break;
    }
    const int ms = RemainingMs(deadline);
    if (ms == 0) {
      error = ErrTimeout;
      return false;
    }
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {queue ? queue->SentWakeFd() : -1, POLLIN, 0}};
    if (::poll(fds, 2, ms) < 0 && errno != EINTR) {
      error = ErrInvalidWindowHandle;
      return false;
    }
    if (queue && (fds[1].revents & POLLIN)) queue->DispatchSent();
    if (fds[0].revents == 0) continue;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      error = ErrInvalidWindowHandle;  // the window went away before answering
      return false;
    }
  }
}

// One request to the window: a send or caption request waits for the answer, a post
// returns once it is written.
bool Call(std::uintptr_t hwnd, const TFrame& request, unsigned timeoutMs, TFrame& reply) {
  int error = ErrInvalidWindowHandle;
  if (hwnd != 0) {
    const auto deadline = TSteady::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = ConnectWindow(hwnd, deadline, error);
    if (fd >= 0) {
      bool ok = WriteAll(fd, EncodeFrame(request), deadline, error);
      if (ok && request.Kind != TFrameKind::Post) ok = ReadReply(fd, deadline, reply, error);
      ::close(fd);
      if (ok) {
        SetLastError(0);
        return true;
      }
    }
  }
  SetLastError(error);
  return false;
}

// The window when the calling thread owns it: such calls must not go through its socket,
// as the thread that would answer is the one waiting.
TWindowChannel* OwnWindow(std::uintptr_t hwnd, std::shared_ptr<TMessageQueue>& queue) {
  queue = TMessageQueue::Current();
  return queue && hwnd != 0 ? queue->OwnWindow(hwnd) : nullptr;
}

bool SendFrame(const TFrame& request, std::uintptr_t hwnd, unsigned timeoutMs, std::intptr_t& result) {
  std::shared_ptr<TMessageQueue> queue;
  if (TWindowChannel* own = OwnWindow(hwnd, queue)) {
    result = own->Deliver(request.Msg, static_cast<std::uintptr_t>(request.WParam),
                          static_cast<std::intptr_t>(request.LParam),
                          static_cast<std::uintptr_t>(request.Sender), request.Payload);
    SetLastError(0);
    return true;
  }
  TFrame reply;
  if (!Call(hwnd, request, timeoutMs, reply)) return false;
  result = static_cast<std::intptr_t>(reply.LParam);
  return true;
}

}  // namespace

std::string WindowFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base;
  if (runtime && runtime[0] == '/') {
    base = std::string(runtime) + "/corvale";
  } else {
    base = FallbackWindowBase();
    if (base.empty()) return std::string();
  }
  const std::string folder = base + "/windows";
  if (!EnsurePrivateFolder(base) || !EnsurePrivateFolder(folder)) return std::string();
  return folder;
}

std::vector<std::uintptr_t> FindWindows(const std::string& className) {
  std::vector<std::uintptr_t> found;
  if (className.empty()) return found;
  auto files = ListWindowFiles(className, 0);
  std::sort(files.begin(), files.end(), [](const TWindowFile& a, const TWindowFile& b) {
    if (a.MTime.tv_sec != b.MTime.tv_sec) return a.MTime.tv_sec > b.MTime.tv_sec;
    if (a.MTime.tv_nsec != b.MTime.tv_nsec) return a.MTime.tv_nsec > b.MTime.tv_nsec;
    return a.Handle > b.Handle;
  });
  for (const TWindowFile& file : files) {
    switch (Probe(file)) {
      case TProbe::Live: found.push_back(file.Handle); break;
      case TProbe::Stale: RemoveStale(file); break;
      case TProbe::Gone: break;
    }
  }
  return found;
}

std::uintptr_t FindWindow(const std::string& className) {
  const auto found = FindWindows(className);
  return found.empty() ? 0 : found.front();
}

bool IsWindow(std::uintptr_t hwnd) {
  std::shared_ptr<TMessageQueue> queue;
  if (hwnd == 0) return false;
  if (OwnWindow(hwnd, queue)) return true;
  const auto files = ListWindowFiles(std::string(), hwnd);
  if (files.empty()) return false;
  const TProbe probe = Probe(files.front());
  if (probe == TProbe::Stale) RemoveStale(files.front());
  return probe == TProbe::Live;
}

std::string GetWindowText(std::uintptr_t hwnd) {
  std::shared_ptr<TMessageQueue> queue;
  if (TWindowChannel* own = OwnWindow(hwnd, queue)) return own->Caption();
  TFrame request, reply;
  request.Kind = TFrameKind::GetText;
  return Call(hwnd, request, QuickCallMs, reply) ? reply.Payload : std::string();
}

bool SendMessageTimeout(std::uintptr_t hwnd, std::uint32_t msg, std::uintptr_t wParam,
                        std::intptr_t lParam, unsigned timeoutMs, std::intptr_t& result) {
  if (msg == winmsg::WM_COPYDATA) {
    SetLastError(ErrInvalidParameter);
    return false;
  }
  TFrame request;
  request.Msg = msg;
  request.WParam = wParam;
  request.LParam = lParam;
  return SendFrame(request, hwnd, timeoutMs, result);
}

std::intptr_t SendMessage(std::uintptr_t hwnd, std::uint32_t msg, std::uintptr_t wParam,
                          std::intptr_t lParam) {
  std::intptr_t result = 0;
  return SendMessageTimeout(hwnd, msg, wParam, lParam, winmsg::SendMessageWaitMs, result) ? result : 0;
}

bool PostMessage(std::uintptr_t hwnd, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (msg == winmsg::WM_COPYDATA) {
    SetLastError(ErrInvalidParameter);
    return false;
  }
  std::shared_ptr<TMessageQueue> queue;
  if (OwnWindow(hwnd, queue)) {
    TQueuedMessage message;
    message.Target = hwnd;
    message.Msg = msg;
    message.WParam = wParam;
    message.LParam = lParam;
    const bool queued = queue->Enqueue(std::move(message));
    SetLastError(queued ? 0 : ErrQueueFull);
    return queued;
  }
  TFrame request, reply;
  request.Kind = TFrameKind::Post;
  request.Msg = msg;
  request.WParam = wParam;
  request.LParam = lParam;
  return Call(hwnd, request, QuickCallMs, reply);
}

bool SendCopyData(std::uintptr_t hwnd, std::uintptr_t sender, std::uintptr_t dwData,
                  const std::string& bytes, unsigned timeoutMs, std::intptr_t& result) {
  if (bytes.size() > winmsg::MaxCopyDataSize) {
    SetLastError(ErrInvalidParameter);
    return false;
  }
  TFrame request;
  request.Msg = winmsg::WM_COPYDATA;
  request.WParam = sender;
  request.LParam = static_cast<std::intptr_t>(dwData);
  request.Sender = sender;
  request.Payload = bytes;
  return SendFrame(request, hwnd, timeoutMs, result);
}
