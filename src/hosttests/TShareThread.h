#pragma once
// One network share test: the first entry of the share's folder on the host, read
// through the SMB client after an optional connection with the host's Windows
// credentials. An answer that proves the share is there counts as success even when it
// denies access or finds nothing. The share slot is waited for as a queued request; the
// name lookup, the connection and the listing run on the worker pool, each request
// bounded by the SMB client's time-out.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hosttests/TBackgroundTask.h"

class TTakenSlot;
class TTestContext;
class TShareThread;

// thread, host address, elapsed ms, result text, success, host ID, share path,
// resolved address.
using TShareDone = std::function<void(TShareThread& thread, const std::string& hostAddress, std::int32_t elapsed,
                                      const std::string& resultText, bool success, std::int32_t hostID,
                                      const std::string& sharePath, const std::string& resolvedAddress)>;

class TShareThread : public TBackgroundTask, public std::enable_shared_from_this<TShareThread> {
public:
  static constexpr const char* TerminatedText = "Test terminated";

  // Creates the test and starts it at once; name is its entry in the running-test list.
  // port 0: the SMB client's default (the setting SMBPort). done may be empty.
  static std::shared_ptr<TShareThread> Create(TTestContext& context, std::string name, std::string hostAddress,
                                              TShareDone done, std::int32_t hostID, std::string password,
                                              std::string userName, std::string sharePath, int port = 0,
                                              int timeoutMs = 0);

  bool IsAlive() const override { return FAlive.load(); }

  // Whether a listing's code proves the share is there: an entry found, file or path
  // not found, access denied, no more files.
  static bool AcceptedCode(int code);
  // The share's name and the folder path below it of a share path ("share\dir\sub").
  static std::pair<std::string, std::string> SplitSharePath(const std::string& sharePath);

  // The result, complete when the completion handler runs.
  const std::string& ResultText() const { return FResultText; }
  bool Success() const { return FSuccess; }
  std::int32_t Elapsed() const { return FElapsed; }

private:
  TShareThread(TTestContext& context, std::string name);
  void OnTerminate() override;

  void Queue();
  void SlotGranted(bool granted);
  void Test(const std::shared_ptr<TTakenSlot>& slot);
  void Steps();
  void Trace(const std::string& text) const;
  void Notify();

  TTestContext& FContext;
  std::string FHostAddress, FSharePath, FUserName, FPassword;
  std::string FResolvedAddress, FResultText;
  bool FSuccess = false;
  std::int32_t FElapsed = 0;
  std::int32_t FHostID = 0;
  int FPort = 0, FTimeoutMs = 0;
  TShareDone FDone;
  int FStage = 0;

  std::atomic<bool> FAlive{true};
  std::atomic<bool> FNotified{false};
  // Guards the waiting slot request against Terminate, which comes from another thread.
  std::mutex FLock;
  std::uint64_t FTicket = 0;
};
