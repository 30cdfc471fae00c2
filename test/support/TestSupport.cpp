#include "support/TestSupport.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/WindowMessages.h"

namespace testsupport {

TTempDir::TTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvale-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  FPath = buf.data();
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string TTempDir::File(const std::string& name) const { return FPath + "/" + name; }

TScopedEnv::TScopedEnv(const std::string& name, const std::string& value) : FName(name) {
  const char* old = std::getenv(name.c_str());
  FHadOld = old != nullptr;
  if (old) FOld = old;
  setenv(name.c_str(), value.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
  if (FHadOld) setenv(FName.c_str(), FOld.c_str(), 1);
  else unsetenv(FName.c_str());
}

TScopedZone::TScopedZone(const char* zone) {
  const char* old = std::getenv("TZ");
  FHadOld = old != nullptr;
  if (old) FOld = old;
  setenv("TZ", zone, 1);
  tzset();
}

TScopedZone::~TScopedZone() {
  if (FHadOld) setenv("TZ", FOld.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string BinDir() { return CORVALE_BIN_DIR; }
std::string SourceDir() { return CORVALE_SOURCE_DIR; }

std::uintptr_t WaitForWindow(const std::string& className, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const std::uintptr_t h = FindWindow(className)) return h;
    if (std::chrono::steady_clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int ListenOnLoopback(std::uint16_t& port, int backlog) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}

bool ProcessEventsUntil(const std::function<bool()>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace testsupport
