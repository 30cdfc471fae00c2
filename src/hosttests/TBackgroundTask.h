#pragma once
// What a host record knows of the work in flight for it (its running test or running
// trace). Workers derive from this class and are shared through std::shared_ptr, so a
// record can drop its reference while the work still runs: an abandoned worker ends on
// its own and its result is ignored. All members may be called from any thread.
#include <atomic>
#include <string>

class TBackgroundTask {
public:
  TBackgroundTask(const TBackgroundTask&) = delete;
  TBackgroundTask& operator=(const TBackgroundTask&) = delete;
  virtual ~TBackgroundTask();

  // The entry name in the running-test list ("Ping " + display name, ...).
  const std::string& Name() const { return FName; }

  // Asks the work to stop at its next opportunity; it need not stop at once. Work that
  // waits for a slot hears of it through OnTerminate.
  void Terminate() {
    if (!FTerminated.exchange(true)) OnTerminate();
  }
  bool Terminated() const { return FTerminated.load(); }
  const std::atomic<bool>& TerminatedFlag() const { return FTerminated; }

  // True until the work has really ended.
  virtual bool IsAlive() const = 0;

  // Echo tests give up their remaining echo requests when aborted.
  virtual bool IsEchoTest() const { return false; }
  void Abort() { FAborted.store(true); }
  bool Aborted() const { return FAborted.load(); }

protected:
  explicit TBackgroundTask(std::string name);
  // Called once, on the thread that calls Terminate; must not block.
  virtual void OnTerminate() {}

private:
  const std::string FName;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FAborted{false};
};
