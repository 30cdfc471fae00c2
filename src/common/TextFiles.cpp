#include "common/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "platform/SysErrors.h"

namespace {

// Makes the rename itself survive a power loss; a folder that cannot be synced is no
// reason to report the write as failed.
void SyncFolderOf(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : fileName.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

// ".<name>." before the six characters mkostemp chooses.
std::string TemporaryPrefix(const std::string& fileName) {
  const std::string native = NativePath(fileName);
  return "." + native.substr(native.rfind('/') + 1) + ".";
}

}  // namespace

bool IsReplaceTemporaryOf(const std::string& fileName, const std::string& name) {
  const std::string prefix = TemporaryPrefix(fileName);
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

bool ReadFileTail(const std::string& fileName, std::uint64_t maxBytes, std::string& text, bool& tail,
                  std::string& errorText) {
  tail = false;
  const int fd = ::open(NativePath(fileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    errorText = ErrnoText(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    ok = false;
  }
  if (ok && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    tail = true;
    ok = ::lseek(fd, static_cast<off_t>(static_cast<std::uint64_t>(st.st_size) - maxBytes), SEEK_SET) >= 0;
  }
  std::string data;
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    // A file that grows while it is read is cut at the limit.
    if (data.size() > maxBytes) {
      tail = true;
      data.erase(0, data.size() - maxBytes);
    }
  }
  if (!ok) errorText = ErrnoText(errno);
  ::close(fd);
  if (!ok) return false;
  if (tail) {
    // The first line was cut in two; only whole lines are kept.
    const std::size_t end = data.find_first_of("\r\n");
    data.erase(0, end == std::string::npos ? data.size() : end + 1);
  }
  text = std::move(data);
  return true;
}

bool ReplaceFileText(const std::string& fileName, const std::string& text, unsigned newFileMode,
                     std::string& errorText) {
  const std::string target = NativePath(fileName);
  const std::size_t slash = target.rfind('/');
  std::string temp = target.substr(0, slash + 1) + TemporaryPrefix(fileName) + "XXXXXX";
  // Created 0600: a write cut short leaves nothing readable by others.
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    errorText = ErrnoText(errno);
    return false;
  }
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  bool ok = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  int err = errno;
  if (ok) (void)::fchmod(fd, existed ? (old.st_mode & 07777) : newFileMode);
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errorText = ErrnoText(err);
    return false;
  }
  SyncFolderOf(target);
  return true;
}

std::string SetFileAside(const std::string& fileName, const std::string& suffix, std::string& errorText) {
  const std::string from = NativePath(fileName);
  for (int n = 1; n <= 1000; ++n) {
    const std::string to = from + suffix + (n == 1 ? std::string() : "-" + std::to_string(n));
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return to;
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS) {
      errorText = ErrnoText(errno);
      return std::string();
    }
    // A file system without the no-replace rename: look first, then rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) continue;
    if (::rename(from.c_str(), to.c_str()) == 0) return to;
    errorText = ErrnoText(errno);
    return std::string();
  }
  errorText = ErrnoText(EEXIST);
  return std::string();
}
