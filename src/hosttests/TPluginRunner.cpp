#include "hosttests/TPluginRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "hosttests/TPluginCalls.h"
#include "hosttests/TPluginFrames.h"
#include "hosttests/TTestContext.h"

extern char** environ;

using namespace PluginFrames;

namespace {

// The child's ends become its descriptors 3 and 4, so they must not be either already.
int MovedHigh(int fd) {
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  ::close(fd);
  return high;
}

std::string ExitText(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = ::strsignal(signal);
    return "the test process ended with signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
  }
  if (WIFEXITED(status)) return "the test process ended with exit code " + std::to_string(WEXITSTATUS(status));
  return "the test process ended";
}

TPluginRunner::TReply FatalReply(const std::string& why) {
  TPluginRunner::TReply reply;
  reply.Result = -1;
  reply.Fatal = true;
  reply.FaultText = why;
  return reply;
}

}  // namespace

TPluginRunner::TPluginRunner(std::string runnerProgram, std::string library, std::int32_t pluginIndex,
                             std::string settings, std::int32_t settingsLength, std::int32_t settingsCapacity,
                             TPluginCalls& calls, TTestContext& context, TFailedFn failed)
    : FProgram(std::move(runnerProgram)), FLibrary(std::move(library)), FIndex(pluginIndex), FCalls(calls),
      FContext(context), FFailedFn(std::move(failed)), FSettings(std::move(settings)),
      FSettingsLength(settingsLength), FSettingsCapacity(settingsCapacity) {}

TPluginRunner::~TPluginRunner() { Stop(); }

bool TPluginRunner::StartLocked(std::string& error) {
  if (FReader.joinable()) FReader.join();
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    error = std::string("no socket for the test process: ") + std::strerror(errno);
    return false;
  }
  const int ours = MovedHigh(ends[0]), theirs = MovedHigh(ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs, 3);
  posix_spawn_file_actions_adddup2(&actions, theirs, 4);
  // What a plug-in prints must not reach the protocol: its standard output is standard error.
  posix_spawn_file_actions_adddup2(&actions, 2, 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // Nothing else of ours (the data folder's lock, the web server's socket) goes with it.
  posix_spawn_file_actions_addclosefrom_np(&actions, 5);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  std::vector<char*> argv{const_cast<char*>(FProgram.c_str()), const_cast<char*>(FLibrary.c_str()), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, FProgram.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(theirs);
  if (spawned != 0) {
    ::close(ours);
    error = "the test process " + FProgram + " did not start: " + std::strerror(spawned);
    return false;
  }
  FPid = pid;
  {
    std::lock_guard write(FWriteLock);
    FToChild = ours;
    ++FGeneration;
  }
  FReaderEnded = false;
  FSettingsChanged = false;
  TFrameWriter init(ftInit);
  init.Int(FIndex).Bytes(FSettings).Int(FSettingsLength).Int(FSettingsCapacity);
  {
    std::lock_guard write(FWriteLock);
    WriteFrame(FToChild, init.Finish());
  }
  FReader = std::thread(&TPluginRunner::ReaderLoop, this, ours, pid, FGeneration);
  return true;
}

std::uint32_t TPluginRunner::Submit(const TRequest& request, TReplyFn done) {
  std::unique_lock guard(FLock);
  if (!FFailed.load() && FPid >= 0 && FSettingsChanged && FPending.empty()) StopLocked(guard);
  std::string error;
  if (!FFailed.load() && FPid < 0 && !StartLocked(error)) {
    FFailed.store(true);
    FFailure = error;
    guard.unlock();
    if (FFailedFn) FFailedFn(error);
    done(FatalReply(error));
    return 0;
  }
  if (FFailed.load()) {
    const std::string why = FFailure;
    guard.unlock();
    done(FatalReply(why));
    return 0;
  }
  std::uint32_t ticket = FNextTicket++;
  while (ticket == 0 || FPending.count(ticket) || FAbandoned.count(ticket)) ticket = FNextTicket++;
  FPending.emplace(ticket, std::move(done));
  const int fd = FToChild;
  guard.unlock();
  TFrameWriter frame(ftTest);
  frame.Int(static_cast<std::int32_t>(ticket)).Int(request.TestNumber).Int(request.HostID);
  frame.Bytes(request.DisplayName.substr(0, MaxText)).Bytes(request.Address.substr(0, MaxText));
  frame.Bytes(request.Parameter.substr(0, MaxFrame / 2));
  std::lock_guard write(FWriteLock);
  // A process that is gone meanwhile answers every pending test from its reader.
  if (FToChild == fd) WriteFrame(fd, frame.Finish());
  return ticket;
}

void TPluginRunner::Abandon(std::uint32_t ticket) {
  std::lock_guard guard(FLock);
  if (!FPending.erase(ticket)) return;
  FAbandoned.insert(ticket);
  if (static_cast<int>(FAbandoned.size()) >= MaxAbandoned && FPid > 0 && !FReplacing) {
    FReplacing = true;
    ::kill(FPid, SIGKILL);
  }
}

void TPluginRunner::SetSettings(std::string settings, std::int32_t length, std::int32_t capacity) {
  std::lock_guard guard(FLock);
  FSettings = std::move(settings);
  FSettingsLength = length;
  FSettingsCapacity = capacity;
  FSettingsChanged = true;
}

void TPluginRunner::Deliver(std::uint32_t ticket, const TReply& reply) {
  TReplyFn done;
  {
    std::lock_guard guard(FLock);
    auto it = FPending.find(ticket);
    if (it == FPending.end()) {
      FAbandoned.erase(ticket);
      return;
    }
    done = std::move(it->second);
    FPending.erase(it);
  }
  done(reply);
}

void TPluginRunner::ReaderLoop(int fd, pid_t pid, std::uint64_t generation) {
  std::string frame, error, why;
  bool loaded = false;
  while (ReadFrame(fd, frame, error)) {
    TFrameReader in(frame);
    if (in.Type() == ftReady) {
      loaded = in.Int() == 1;
      const std::string text = in.Bytes();
      if (!loaded || !in.Ok()) {
        why = "the plug-in did not load in its test process: " + text;
        break;
      }
    } else if (in.Type() == ftDone) {
      const auto ticket = static_cast<std::uint32_t>(in.Int());
      TReply reply;
      reply.Result = in.Int();
      reply.ErrorCode = in.Int();
      reply.Message = in.Bytes();
      reply.ResponseTime = in.Int();
      const std::string address = in.Bytes(4);
      reply.Fatal = in.Int() != 0;
      reply.FaultText = in.Bytes();
      if (!in.Ok() || address.size() != 4) {
        why = "the test process sent a result that could not be read";
        break;
      }
      std::memcpy(reply.Address, address.data(), 4);
      Deliver(ticket, reply);
    } else if (in.Type() == ftCall) {
      {
        std::lock_guard guard(FLock);
        ++FCallsInFlight;
      }
      FContext.RunInPool([this, frame, generation] { ServeCall(frame, generation); });
    } else {
      why = "the test process sent a frame of an unknown kind";
      break;
    }
  }
  if (why.empty()) why = error.empty() ? std::string() : "the test process sent " + error;
  // The end of the pipe is the end of the process, or it must become so.
  int status = 0;
  bool reaped = false;
  for (int i = 0; i < 50 && !reaped; ++i) {
    reaped = ::waitpid(pid, &status, WNOHANG) == pid;
    if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!reaped) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  if (why.empty()) why = ExitText(status);
  EndProcess(generation, why, true);
}

void TPluginRunner::ServeCall(std::string frame, std::uint64_t generation) {
  TFrameReader in(frame);
  const std::int32_t id = in.Int(), callback = in.Int(), index = in.Int();
  TFrameWriter reply(ftReply);
  reply.Int(id);
  try {
    switch (callback) {
      case cbLog: {
        const std::int32_t host = in.Int();
        const std::string message = in.Bytes();
        const std::int32_t type = in.Int();
        reply.Int(in.Ok() ? FCalls.Log(index, host, message, type) : 0);
        break;
      }
      case cbEmail: {
        const std::int32_t host = in.Int();
        const std::string recipients = in.Bytes(), subject = in.Bytes(), message = in.Bytes();
        reply.Int(in.Ok() ? FCalls.Email(index, host, recipients, subject, message) : 0);
        break;
      }
      case cbVariables: {
        const std::int32_t host = in.Int();
        const std::string text = in.Bytes();
        const std::int32_t size = in.Int();
        std::string expanded;
        const std::int32_t result = in.Ok() ? FCalls.Variables(index, host, text, std::min<std::int32_t>(size, static_cast<std::int32_t>(MaxText)), expanded) : 0;
        reply.Int(result).Bytes(result == -1 ? expanded : std::string());
        break;
      }
      case cbVariablesMenu: {
        const std::int32_t host = in.Int(), x = in.Int(), y = in.Int();
        std::string chosen;
        const std::int32_t result = in.Ok() ? FCalls.VariablesMenu(index, host, x, y, chosen) : 0;
        reply.Int(result).Bytes(chosen.substr(0, MaxText));
        break;
      }
      case cbHostInfo: {
        const std::int32_t hostIndex = in.Int();
        TPluginHostInfo info;
        const std::int32_t result = in.Ok() ? FCalls.HostInfo(index, hostIndex, info) : 1;
        reply.Int(result).Int(info.ID).Bytes(info.Name.substr(0, MaxText)).Bytes(info.Address.substr(0, MaxText));
        reply.Bytes(info.Kind.substr(0, MaxText)).Int(info.Status).Int64(info.Successes).Int64(info.Failures);
        reply.Int64(info.BackToBackFailures).Double(info.LastCheck).Double(info.LastSuccess).Double(info.LastFailure);
        reply.Bytes(info.LastError.substr(0, MaxText));
        break;
      }
      case cbHostConnection: {
        const std::int32_t host = in.Int(), action = in.Int();
        reply.Int(in.Ok() ? FCalls.HostConnection(index, host, action) : -2);
        break;
      }
      default: reply.Int(0); break;
    }
  } catch (...) {
    FContext.ReportException("plug-in callback");
  }
  {
    std::lock_guard write(FWriteLock);
    if (generation == FGeneration && FToChild >= 0) WriteFrame(FToChild, reply.Finish());
  }
  std::lock_guard guard(FLock);
  --FCallsInFlight;
  FChanged.notify_all();
}

void TPluginRunner::EndProcess(std::uint64_t generation, const std::string& why, bool crashed) {
  std::map<std::uint32_t, TReplyFn> pending;
  bool failed = false, replaced = false;
  std::string text = why;
  {
    std::lock_guard guard(FLock);
    if (generation != FGeneration) return;
    pending.swap(FPending);
    const std::size_t abandoned = FAbandoned.size();
    FAbandoned.clear();
    {
      std::lock_guard write(FWriteLock);
      if (FToChild >= 0) ::close(FToChild);
      FToChild = -1;
    }
    FPid = -1;
    FReaderEnded = true;
    if (FReplacing) {
      FReplacing = false;
      replaced = true;
      text = "the test process was replaced: " + std::to_string(abandoned) + " tests never returned";
    } else if (crashed && !FStopping) {
      failed = !FFailed.exchange(true);
      FFailure = why;
    }
    FChanged.notify_all();
  }
  for (auto& [ticket, done] : pending) {
    if (!replaced) {
      done(FatalReply(text));
      continue;
    }
    // These tests did nothing wrong: no result, and they run again at their next interval.
    TReply reply;
    reply.Result = -2;
    reply.Message = text;
    done(reply);
  }
  if (failed && FFailedFn) FFailedFn(why);
}

void TPluginRunner::StopLocked(std::unique_lock<std::mutex>& guard) {
  if (FPid > 0) {
    FStopping = true;
    {
      std::lock_guard write(FWriteLock);
      if (FToChild >= 0) ::shutdown(FToChild, SHUT_WR);
    }
    const pid_t pid = FPid;
    if (!FChanged.wait_for(guard, std::chrono::milliseconds(StopWaitMs), [&] { return FReaderEnded; }))
      ::kill(pid, SIGKILL);
    FChanged.wait(guard, [&] { return FReaderEnded; });
    FStopping = false;
  }
  FChanged.wait(guard, [&] { return FCallsInFlight == 0; });
  if (FReader.joinable()) {
    guard.unlock();
    FReader.join();
    guard.lock();
  }
}

void TPluginRunner::Stop() {
  std::unique_lock guard(FLock);
  StopLocked(guard);
}
