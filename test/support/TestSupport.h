#pragma once
// Helpers shared by every test folder: private temporary folders and environment
// overrides, so that no test ever meets the user's real registry, data folder or a
// running copy of the program.
#include <cstdint>
#include <functional>
#include <string>

namespace testsupport {

// A fresh folder under TMPDIR, removed with everything in it on destruction.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }
  // Path() + "/" + name
  std::string File(const std::string& name) const;
private:
  std::string FPath;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class TScopedEnv {
public:
  TScopedEnv(const std::string& name, const std::string& value);
  ~TScopedEnv();
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;
private:
  std::string FName, FOld;
  bool FHadOld;
};

// Sets the time zone (TZ) for one test and puts the previous zone back afterwards.
class TScopedZone {
public:
  explicit TScopedZone(const char* zone);
  ~TScopedZone();
  TScopedZone(const TScopedZone&) = delete;
  TScopedZone& operator=(const TScopedZone&) = delete;
private:
  std::string FOld;
  bool FHadOld;
};

// XDG_CONFIG_HOME pointed at a private folder for the whole test program and every
// program it starts: what the program writes below it (the login start-up entry, the
// user's registry folder) never reaches the user's own ~/.config.
class TPrivateConfigHome {
public:
  TPrivateConfigHome() : FEnv("XDG_CONFIG_HOME", FDir.Path()) {}
  const std::string& Path() const { return FDir.Path(); }
private:
  TTempDir FDir;
  TScopedEnv FEnv;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Folder of the built programs (corvale, corvale-msg, ...).
std::string BinDir();
std::string SourceDir();

// A live window of the class (WindowMessages.h) within timeoutMs, looking every 20 ms;
// 0 when none appeared.
std::uintptr_t WaitForWindow(const std::string& className, int timeoutMs);

// A listening TCP socket on 127.0.0.1 (port 0: a free one, whose number goes to port);
// -1 on failure.
int ListenOnLoopback(std::uint16_t& port, int backlog);

// Runs the calling thread's Qt event loop until done() holds; false after the seconds
// given.
bool ProcessEventsUntil(const std::function<bool()>& done, int seconds = 20);

}  // namespace testsupport
