#include "common/FileUtils.h"

#include "platform/DriveTypes.h"
#include "platform/SysErrors.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool IsDelimiter(char c) {
  return c == '\\' || c == '/';
}

size_t LastDelimiter(const std::string& path) {
  return path.find_last_of("\\/");
}

// Creates one folder level; false (with the last error set) unless it is there after.
bool CreateLevel(const std::string& level) {
  if (DirectoryExists(level)) return true;
  std::error_code ec;
  fs::create_directory(level, ec);
  if (!ec || DirectoryExists(level)) return true;
  SetLastError(WinErrorFromErrno(ec.value()));
  return false;
}

}  // namespace

std::string NativePath(const std::string& path) {
  std::string result = path;
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

bool ReadWholeFile(const std::string& fileName, std::string& text) {
  std::FILE* file = std::fopen(NativePath(fileName).c_str(), "rb");
  if (!file) return false;
  std::string data;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  if (ok) text = std::move(data);
  return ok;
}

bool WriteBufferToFile(const std::string& fileName, const void* buffer, std::size_t size) {
  std::FILE* file = std::fopen(NativePath(fileName).c_str(), "wb");
  if (!file) return false;
  bool ok = size == 0 || std::fwrite(buffer, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

bool WriteWholeFile(const std::string& fileName, const std::string& text) {
  return WriteBufferToFile(fileName, text.data(), text.size());
}

bool ForceDirectories(const std::string& path) {
  std::string dir = NativePath(path);
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty()) {
    SetLastError(syserr::ERROR_INVALID_PARAMETER);
    return false;
  }
  if (DirectoryExists(dir)) return true;
  bool ok = true;
  for (size_t i = 1; i < dir.size(); ++i)
    if (dir[i] == '/' && dir[i - 1] != '/' && !CreateLevel(dir.substr(0, i))) ok = false;
  return CreateLevel(dir) && ok;
}

int DriveTypeOf(const std::string& path) {
  if (path.compare(0, 2, "\\\\") == 0) return DRIVE_REMOTE;
  if (path.empty() || path[0] == '-') return -1;
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') return DRIVE_NO_ROOT_DIR;
  return GetDriveType(NativePath(path));
}

std::string ShortPathName(const std::string& path) {
  return path;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (path.empty() || IsDelimiter(path.back())) return path;
  return path + '/';
}

std::string ExtractFilePath(const std::string& fileName) {
  size_t pos = LastDelimiter(fileName);
  return pos == std::string::npos ? std::string() : fileName.substr(0, pos + 1);
}

std::string ExtractFileName(const std::string& fileName) {
  size_t pos = LastDelimiter(fileName);
  return pos == std::string::npos ? fileName : fileName.substr(pos + 1);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& extension) {
  size_t pos = fileName.find_last_of(".\\/");
  if (pos == std::string::npos || fileName[pos] != '.') return fileName + extension;
  return fileName.substr(0, pos) + extension;
}

bool FileExists(const std::string& fileName) {
  std::error_code ec;
  auto status = fs::status(NativePath(fileName), ec);
  return !ec && fs::exists(status) && !fs::is_directory(status);
}

bool DirectoryExists(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(NativePath(path), ec);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool IsReadOnlyFile(const std::string& fileName) {
  const std::string path = NativePath(fileName);
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0);
}
