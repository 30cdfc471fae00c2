#pragma once
// What the tests of the test workers share: running the main thread's events while a
// worker finishes, and the process's thread count.
#include <sched.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "hosttests/TTestContext.h"

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

// Takes one slot as a test that may go ahead at once does; false, with nothing taken and
// nothing left waiting, when the limit is reached.
inline bool TakeSlot(TSlotCounter& counter, int limit) {
  bool granted = false;
  const std::uint64_t ticket = counter.Request(limit, false, [&granted](bool ok) { granted = ok; });
  if (!granted) counter.Cancel(ticket);
  return granted;
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

// Names that are in no hosts file go to the name server. This runs start on a thread in
// a fresh network namespace of its own, which has no way out, after making sure that the
// context's pool threads are made there too: their lookups then fail at once and never
// leave the computer. The context must be new (no pool threads yet). False, with start
// not run, when the namespace or the pool could not be isolated (needs root).
inline bool StartIsolated(TTestContext& context, const std::function<void()>& start) {
  bool isolated = false;
  std::thread([&] {
    if (unshare(CLONE_NEWNET) != 0) return;
    const auto mine = std::filesystem::read_symlink("/proc/thread-self/ns/net");
    std::atomic<bool> probed = false, same = false;
    context.RunInPool([&] {
      same = std::filesystem::read_symlink("/proc/thread-self/ns/net") == mine;
      probed = true;
    });
    while (!probed) std::this_thread::yield();
    isolated = same;
    if (isolated) start();
  }).join();
  return isolated;
}

}  // namespace workertest
