#pragma once
// An exclusive lock on a file, held from Acquire() until the object goes (or the process
// ends, however it ends): one copy of the program per data folder, even when the copies
// cannot see each other's windows.
#include <string>

class TInstanceLock {
public:
  enum class TResult {
    Acquired,
    Held,         // another process holds it
    Unavailable,  // the file can neither be created nor opened (a read-only folder)
  };

  TInstanceLock() = default;
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // Creates the file (mode 0600) when missing and locks it without waiting.
  TResult Acquire(const std::string& fileName);
  void Release();
  bool Held() const { return FFd >= 0; }
  // Why the last Acquire did not lock, when it did not.
  const std::string& ErrorText() const { return FError; }

private:
  int FFd = -1;
  std::string FError;
};
