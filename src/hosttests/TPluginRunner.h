#pragma once
// The monitor's end of one plug-in's test process (see TPluginChild): started at the
// first test, it runs every PerformTest of the plug-in, answers the plug-in's callbacks
// through TPluginCalls on the test context's pool, and ends with the runner. When the
// process dies (a crash in the plug-in), every test waiting for it reports a fatal error
// and the plug-in counts as failed: later tests report the same at once. Tests that were
// abandoned and never returned are counted; at MaxAbandoned the process is replaced,
// and the tests waiting for it then have no result (they did nothing wrong).
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class TPluginCalls;
class TTestContext;

class TPluginRunner {
public:
  struct TRequest {
    std::int32_t TestNumber = 0;
    std::int32_t HostID = 0;
    std::string DisplayName, Address, Parameter;
  };
  // What PerformTest gave back, as it gave it.
  struct TReply {
    std::int32_t Result = 0;
    std::int32_t ErrorCode = 0;
    std::string Message;
    std::int32_t ResponseTime = 0;
    std::uint8_t Address[4] = {0, 0, 0, 0};
    bool Fatal = false;
    // The error the call raised (an exception, the process's end); empty when none.
    std::string FaultText;
  };
  // Called once per test, on the runner's reader thread or the submitting thread.
  using TReplyFn = std::function<void(const TReply& reply)>;
  // The process ended on its own: why, for the log. Any thread.
  using TFailedFn = std::function<void(const std::string& why)>;

  static constexpr int MaxAbandoned = 16;
  // How long Stop waits for the process to end after its pipe closed.
  static constexpr int StopWaitMs = 2000;

  TPluginRunner(std::string runnerProgram, std::string library, std::int32_t pluginIndex, std::string settings,
                std::int32_t settingsLength, std::int32_t settingsCapacity, TPluginCalls& calls,
                TTestContext& context, TFailedFn failed);
  ~TPluginRunner();
  TPluginRunner(const TPluginRunner&) = delete;
  TPluginRunner& operator=(const TPluginRunner&) = delete;

  // Starts the test; its reply comes through done (at once, with a fatal error, when the
  // process cannot run). The ticket names it for Abandon.
  std::uint32_t Submit(const TRequest& request, TReplyFn done);
  // The test's reply no longer matters (it is overdue); done is not called for it.
  void Abandon(std::uint32_t ticket);
  // The settings block for the next process (after the plug-in's settings dialog):
  // the process is replaced once no test waits for it.
  void SetSettings(std::string settings, std::int32_t length, std::int32_t capacity);
  // Closes the process's pipe, waits for it to end, then kills it. Pending tests report
  // a fatal error.
  void Stop();
  bool Failed() const { return FFailed.load(); }
  const std::string& Library() const { return FLibrary; }

private:
  bool StartLocked(std::string& error);
  void ReaderLoop(int fd, pid_t pid, std::uint64_t generation);
  void ServeCall(std::string frame, std::uint64_t generation);
  void EndProcess(std::uint64_t generation, const std::string& why, bool crashed);
  void StopLocked(std::unique_lock<std::mutex>& guard);
  void Deliver(std::uint32_t ticket, const TReply& reply);

  const std::string FProgram, FLibrary;
  const std::int32_t FIndex;
  TPluginCalls& FCalls;
  TTestContext& FContext;
  TFailedFn FFailedFn;

  std::mutex FLock;
  std::string FSettings;
  std::int32_t FSettingsLength = 0, FSettingsCapacity = -1;
  bool FSettingsChanged = false;
  pid_t FPid = -1;
  int FToChild = -1;
  std::thread FReader;
  std::uint64_t FGeneration = 0;
  std::uint32_t FNextTicket = 1;
  std::map<std::uint32_t, TReplyFn> FPending;
  std::set<std::uint32_t> FAbandoned;
  // Callbacks being answered on the pool; Stop waits for them.
  int FCallsInFlight = 0;
  bool FReaderEnded = true;
  std::condition_variable FChanged;
  std::atomic<bool> FFailed{false};
  std::string FFailure;
  bool FReplacing = false;
  bool FStopping = false;
  std::mutex FWriteLock;
};
