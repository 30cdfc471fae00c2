#pragma once
// What the tests of the test workers share: running the main thread's events while a
// worker finishes, and the process's thread count.
#include <QCoreApplication>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace workertest {

// Runs the main thread's events until done() holds; false after the limit, which only
// guards against a hang.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60),
                      const std::function<void()>& sample = {}) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents();
    if (sample) sample();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Runs the main thread's events for a while, for steps that must not happen.
inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

// "Threads:" of /proc/self/status.
inline int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

}  // namespace workertest
