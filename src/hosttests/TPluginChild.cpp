#include "hosttests/TPluginChild.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvale_plugin.h"
#include "hosttests/TPluginFrames.h"

using namespace PluginFrames;

namespace {

constexpr int InFd = 3, OutFd = 4;
// Tests at once; one more gets "no result" at once rather than another thread.
constexpr int MaxRunning = 256;
// A callback the monitor does not answer in this time fails (0).
constexpr auto CallTimeout = std::chrono::seconds(30);

struct TChild {
  std::mutex WriteLock;
  std::mutex CallLock;
  std::condition_variable CallDone;
  std::map<std::int32_t, std::string> Replies;  // call ID -> reply frame, once answered
  std::int32_t NextCall = 1;
  std::atomic<int> Running{0};
  bool Gone = false;  // the monitor's pipe ended
  // Until the plug-in is set up: the monitor's own copy has logged its start already.
  std::atomic<bool> Started{false};
  std::int32_t Index = 0;
  TCvlPerformTest PerformTest = nullptr;
};
TChild Child;

bool Send(const std::string& frame) {
  std::lock_guard guard(Child.WriteLock);
  return WriteFrame(OutFd, frame);
}

// A callback passed to the monitor; the reply's fields after the result, or a failed
// reader when there is none.
std::string Call(TFrameWriter& frame, std::int32_t id) {
  if (!Send(frame.Finish())) return {};
  std::unique_lock guard(Child.CallLock);
  Child.CallDone.wait_for(guard, CallTimeout, [&] { return Child.Gone || Child.Replies.count(id) > 0; });
  auto it = Child.Replies.find(id);
  if (it == Child.Replies.end()) return {};
  std::string reply = std::move(it->second);
  Child.Replies.erase(it);
  return reply;
}

TFrameWriter NewCall(TCallback callback, std::int32_t& id) {
  {
    std::lock_guard guard(Child.CallLock);
    id = Child.NextCall++;
  }
  TFrameWriter frame(ftCall);
  frame.Int(id).Int(callback);
  return frame;
}

// Copies text with its zero into a plug-in's buffer of size bytes, cut to fit.
void CopyOut(char* buffer, std::size_t size, const std::string& text) {
  if (!buffer || size == 0) return;
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

std::int32_t CVL_CALL LogCallback(std::int32_t index, std::int32_t, std::int32_t hostID, const char* message,
                                  std::int32_t type) {
  if (!message) return 0;
  if (!Child.Started.load()) return -1;
  std::int32_t id;
  TFrameWriter frame = NewCall(cbLog, id);
  frame.Int(index).Int(hostID).Bytes(std::string_view(message).substr(0, MaxText)).Int(type);
  const std::string answer = Call(frame, id);
  TFrameReader reply(answer);
  const std::int32_t result = reply.Int();
  return reply.Ok() ? result : 0;
}

std::int32_t CVL_CALL EmailCallback(std::int32_t index, std::int32_t hostID, const char* recipients,
                                    const char* subject, const char* message) {
  if (!recipients || !subject || !message) return 0;
  if (!Child.Started.load()) return -1;
  std::int32_t id;
  TFrameWriter frame = NewCall(cbEmail, id);
  frame.Int(index).Int(hostID).Bytes(std::string_view(recipients).substr(0, MaxText));
  frame.Bytes(std::string_view(subject).substr(0, MaxText)).Bytes(std::string_view(message).substr(0, MaxText));
  const std::string answer = Call(frame, id);
  TFrameReader reply(answer);
  const std::int32_t result = reply.Int();
  return reply.Ok() ? result : 0;
}

std::int32_t CVL_CALL VariablesCallback(std::int32_t index, std::int32_t hostID, const char* text,
                                        std::int32_t* bufferSize, char* buffer) {
  if (!text || !bufferSize || !buffer || *bufferSize <= 0) return 0;
  std::int32_t id;
  TFrameWriter frame = NewCall(cbVariables, id);
  frame.Int(index).Int(hostID).Bytes(std::string_view(text).substr(0, MaxText)).Int(*bufferSize);
  const std::string answer = Call(frame, id);
  TFrameReader reply(answer);
  const std::int32_t result = reply.Int();
  const std::string expanded = reply.Bytes();
  if (!reply.Ok() || result != -1 || expanded.size() >= static_cast<std::size_t>(*bufferSize)) return 0;
  CopyOut(buffer, static_cast<std::size_t>(*bufferSize), expanded);
  *bufferSize = static_cast<std::int32_t>(expanded.size());
  return -1;
}

std::int32_t CVL_CALL VariablesMenuCallback(std::int32_t index, std::int32_t hostID, std::int32_t x, std::int32_t y,
                                            char* buffer) {
  if (!buffer) return 0;
  std::int32_t id;
  TFrameWriter frame = NewCall(cbVariablesMenu, id);
  frame.Int(index).Int(hostID).Int(x).Int(y);
  const std::string answer = Call(frame, id);
  TFrameReader reply(answer);
  const std::int32_t result = reply.Int();
  const std::string chosen = reply.Bytes();
  if (!reply.Ok() || result != -1) return 0;
  CopyOut(buffer, CVL_TEXT_SIZE, chosen);
  return -1;
}

std::int32_t CVL_CALL HostInfoCallback(std::int32_t index, std::int32_t hostIndex, std::int32_t* hostID, char* name,
                                       char* address, char* kind, std::int32_t* status, std::int64_t* successes,
                                       std::int64_t* failures, std::int64_t* backToBack, double* lastCheck,
                                       double* lastSuccess, double* lastFailure, char* lastError) {
  std::int32_t id;
  TFrameWriter frame = NewCall(cbHostInfo, id);
  frame.Int(index).Int(hostIndex);
  const std::string answer = Call(frame, id);
  TFrameReader reply(answer);
  const std::int32_t result = reply.Int();
  const std::int32_t idValue = reply.Int();
  const std::string nameText = reply.Bytes(), addressText = reply.Bytes(), kindText = reply.Bytes();
  const std::int32_t statusValue = reply.Int();
  const std::int64_t s = reply.Int64(), f = reply.Int64(), b = reply.Int64();
  const double c = reply.Double(), ls = reply.Double(), lf = reply.Double();
  const std::string errorText = reply.Bytes();
  if (!reply.Ok()) return 1;
  if (result != 0) return result;
  if (hostID) *hostID = idValue;
  CopyOut(name, CVL_TEXT_SIZE, nameText);
  CopyOut(address, CVL_TEXT_SIZE, addressText);
  CopyOut(kind, CVL_TEXT_SIZE, kindText);
  if (status) *status = statusValue;
  if (successes) *successes = s;
  if (failures) *failures = f;
  if (backToBack) *backToBack = b;
  if (lastCheck) *lastCheck = c;
  if (lastSuccess) *lastSuccess = ls;
  if (lastFailure) *lastFailure = lf;
  CopyOut(lastError, CVL_TEXT_SIZE, errorText);
  return 0;
}

std::int32_t CVL_CALL HostConnectionCallback(std::int32_t index, std::int32_t hostID, std::int32_t action) {
  std::int32_t id;
  TFrameWriter frame = NewCall(cbHostConnection, id);
  frame.Int(index).Int(hostID).Int(action);
  const std::string answer = Call(frame, id);
  TFrameReader reply(answer);
  const std::int32_t result = reply.Int();
  return reply.Ok() ? result : -2;
}

void RunTest(std::int32_t ticket, std::int32_t testNumber, std::int32_t hostID, std::string name, std::string address,
             std::string parameter) {
  std::int32_t errorCode = 0, responseTime = 0, fatal = 0, result = 0;
  char message[CVL_MESSAGE_SIZE + 1] = {};
  std::uint8_t resolved[4] = {};
  std::string fault;
  try {
    result = Child.PerformTest(testNumber, hostID, name.c_str(), address.c_str(), parameter.c_str(),
                               static_cast<std::int32_t>(parameter.size()), &errorCode, message, &responseTime,
                               resolved, &fatal);
  } catch (const std::exception& e) {
    fault = e.what();
    if (fault.empty()) fault = "exception";
  } catch (...) {
    fault = "unknown exception";
  }
  TFrameWriter done(ftDone);
  done.Int(ticket).Int(result).Int(errorCode).Bytes(std::string(message, strnlen(message, CVL_MESSAGE_SIZE)));
  done.Int(responseTime).Bytes(std::string(reinterpret_cast<const char*>(resolved), 4));
  done.Int(fatal != 0 || !fault.empty() ? 1 : 0).Bytes(fault.substr(0, MaxText));
  Send(done.Finish());
  Child.Running.fetch_sub(1);
}

void Ready(bool loaded, const std::string& why) {
  TFrameWriter frame(ftReady);
  frame.Int(loaded ? 1 : 0).Bytes(why);
  Send(frame.Finish());
}

}  // namespace

int RunPluginChild(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvale-plugin-runner LIBRARY (started by the monitor)\n");
    return 2;
  }
  // Tests run at a low priority, never an idle one.
  ::setpriority(PRIO_PROCESS, 0, 10);
  std::string frame, error;
  if (!ReadFrame(InFd, frame, error)) return 3;
  TFrameReader init(frame);
  Child.Index = init.Int();
  std::string settings = init.Bytes(MaxFrame);
  std::int32_t length = init.Int(), capacity = init.Int();
  if (!init.Ok() || init.Type() != ftInit) return 3;

  void* library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = ::dlerror();
    Ready(false, why ? why : "the library did not load");
    return 4;
  }
  auto entry = [&](const char* name) { return ::dlsym(library, name); };
  auto initialize = reinterpret_cast<TCvlInitialize>(entry("Initialize"));
  auto initializeEx = reinterpret_cast<TCvlInitializeEx>(entry("InitializeEx"));
  auto getTestInfo = reinterpret_cast<TCvlGetTestInfo>(entry("GetTestInfo"));
  auto finalize = reinterpret_cast<TCvlFinalize>(entry("Finalize"));
  Child.PerformTest = reinterpret_cast<TCvlPerformTest>(entry("PerformTest"));
  if (!initialize || !Child.PerformTest) {
    Ready(false, "the library has no Initialize or no PerformTest");
    return 4;
  }
  try {
    char vendor[CVL_NAME_SIZE] = {}, name[CVL_NAME_SIZE] = {};
    std::int32_t count = 0;
    if (initialize(Child.Index, LogCallback, EmailCallback, vendor, name, &count) != 0) {
      Ready(false, "Initialize failed");
      return 4;
    }
    // The same block the monitor offered; what the plug-in makes of it here is not kept.
    std::vector<char> block;
    if (capacity > 0) {
      block.assign(static_cast<std::size_t>(capacity), '\0');
      std::memcpy(block.data(), settings.data(), std::min(settings.size(), block.size()));
    }
    std::int32_t reserved = 0;
    if (initializeEx)
      initializeEx(VariablesCallback, VariablesMenuCallback, HostInfoCallback, HostConnectionCallback,
                   block.empty() ? nullptr : block.data(), &length, &capacity, &reserved);
    if (getTestInfo)
      for (std::int32_t test = 0; test < count && test < 1024; ++test) {
        char identifier[CVL_NAME_SIZE] = {}, testName[CVL_NAME_SIZE] = {};
        std::int32_t kind = 0, size = 0;
        getTestInfo(test, identifier, testName, &kind, &size);
      }
    Child.Started.store(true);
    Ready(true, {});

    while (ReadFrame(InFd, frame, error)) {
      TFrameReader in(frame);
      if (in.Type() == ftReply) {
        const std::int32_t id = in.Int();
        if (!in.Ok()) break;
        std::lock_guard guard(Child.CallLock);
        Child.Replies[id] = frame.substr(5);
        Child.CallDone.notify_all();
        continue;
      }
      if (in.Type() != ftTest) break;
      const std::int32_t ticket = in.Int(), test = in.Int(), hostID = in.Int();
      std::string displayName = in.Bytes(), address = in.Bytes(), parameter = in.Bytes(MaxFrame);
      if (!in.Ok()) break;
      if (Child.Running.fetch_add(1) >= MaxRunning) {
        Child.Running.fetch_sub(1);
        TFrameWriter done(ftDone);
        done.Int(ticket).Int(CVL_NO_RESULT).Int(0).Bytes("Too many tests of this plug-in at once").Int(0);
        done.Bytes(std::string(4, '\0')).Int(0).Bytes({});
        Send(done.Finish());
        continue;
      }
      std::thread(RunTest, ticket, test, hostID, std::move(displayName), std::move(address), std::move(parameter))
          .detach();
    }
    {
      std::lock_guard guard(Child.CallLock);
      Child.Gone = true;
      Child.CallDone.notify_all();
    }
    // A test still running may never return: Finalize only when none does.
    if (finalize && Child.Running.load() == 0) finalize();
  } catch (...) {
    return 5;
  }
  std::fflush(nullptr);
  ::_exit(0);
}
