#include "platform/TInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TInstanceLock::~TInstanceLock() { Release(); }

TInstanceLock::TResult TInstanceLock::Acquire(const std::string& fileName) {
  Release();
  FError.clear();
  // O_NOFOLLOW: a link planted in a shared data folder must not make us create or
  // truncate a file elsewhere; the file is never written, only locked.
  int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  // Read access is enough for the lock when the folder or the file is read-only.
  if (fd < 0 && (errno == EROFS || errno == EACCES)) fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    FError = std::strerror(errno);
    return TResult::Unavailable;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    FError = "not a regular file";
    ::close(fd);
    return TResult::Unavailable;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    ::close(fd);
    FError = std::strerror(err);
    return err == EWOULDBLOCK ? TResult::Held : TResult::Unavailable;
  }
  FFd = fd;
  return TResult::Acquired;
}

void TInstanceLock::Release() {
  if (FFd < 0) return;
  ::close(FFd);
  FFd = -1;
}
