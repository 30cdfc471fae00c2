#include "platform/Processes.h"

#include "platform/SysErrors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int ERROR_NOT_SUPPORTED = 50;
constexpr int ERROR_DIRECTORY = 267;

}  // namespace

// The child is kept unreaped (a zombie once it ends) until the handle is released, so
// its process id, and with it its process group id, cannot be reused while we may still
// signal them.
struct TProcessState {
  std::mutex Lock;
  pid_t Pid = 0;
  int PidFd = -1;     // -1 where the kernel has no process descriptors
  int OutputFd = -1;  // read end of the captured output
  bool Ended = false;
  int ExitCode = STILL_ACTIVE;
  bool Terminated = false;
  int TerminateCode = 0;
  bool Closed = false;

  ~TProcessState() { Release(); }

  // Closes the descriptors and reaps the child now, or on a waiter thread when it
  // still runs. Lock held or state no longer shared.
  void Release();
  // Notes the exit status without reaping. Lock held.
  bool CheckEnded();
  bool Signal(int sig);
};

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int PidFdOpen(pid_t pid) {
  int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return fd >= 0 ? fd : -1;
}

int NiceFromPriority(int priority) {
  return std::clamp(-5 * priority, -20, 19);
}

// poll() that sleeps on through signals until timeoutMs in total has passed.
int PollFor(pollfd* fds, nfds_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int n = ::poll(fds, count, timeoutMs);
    if (n >= 0 || errno != EINTR) return n;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeoutMs = static_cast<int>(std::max<std::int64_t>(left, 0));
    }
  }
}

}  // namespace

bool TProcessState::CheckEnded() {
  if (Ended) return true;
  siginfo_t info{};
  int rc;
  do {
    rc = PidFd >= 0 ? ::waitid(P_PIDFD, static_cast<id_t>(PidFd), &info, WEXITED | WNOHANG | WNOWAIT)
                    : ::waitid(P_PID, static_cast<id_t>(Pid), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    // Someone else reaped it (SIGCHLD ignored process-wide, for one): it has ended, with
    // a status nobody can tell any more.
    Ended = true;
    ExitCode = Terminated ? TerminateCode : 0;
    return true;
  }
  if (info.si_pid == 0) return false;
  Ended = true;
  if (info.si_code == CLD_EXITED)
    ExitCode = info.si_status;
  else if (Terminated && info.si_status == SIGKILL)
    ExitCode = TerminateCode;
  else
    ExitCode = 128 + info.si_status;
  return true;
}

bool TProcessState::Signal(int sig) {
  if (PidFd >= 0) return ::syscall(SYS_pidfd_send_signal, PidFd, sig, nullptr, 0) == 0;
  return ::kill(Pid, sig) == 0;
}

void TProcessState::Release() {
  if (Closed) return;
  Closed = true;
  const bool ended = Pid <= 0 || CheckEnded();
  CloseFd(OutputFd);
  CloseFd(PidFd);
  const pid_t pid = Pid;
  if (pid <= 0) return;
  if (ended) {
    ::waitpid(pid, nullptr, WNOHANG);
    return;
  }
  // A thread of its own reaps the child. Without one to be had (the create fails and
  // says so, nothing is thrown) it stays a zombie until we exit; nothing worse.
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return;
  ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t reaper;
  ::pthread_create(
      &reaper, &attr,
      [](void* arg) -> void* {
        const auto child = static_cast<pid_t>(reinterpret_cast<std::intptr_t>(arg));
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return nullptr;
      },
      reinterpret_cast<void*>(static_cast<std::intptr_t>(pid)));
  ::pthread_attr_destroy(&attr);
}

TProcessHandle SpawnProcess(const TSpawnOptions& options) {
  TProcessHandle result;
  auto fail = [&result](int code) {
    result.Value = -static_cast<std::int64_t>(code);
    return result;
  };
  if (options.Token != NoUserToken) return fail(ERROR_NOT_SUPPORTED);
  if (options.Program.empty()) return fail(syserr::ERROR_FILE_NOT_FOUND);
  if (!options.WorkDir.empty()) {
    struct stat st{};
    if (::stat(options.WorkDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(ERROR_DIRECTORY);
  }

  // Windows takes a relative program path from the caller's folder; exec after chdir
  // would take it from the child's.
  std::string program = options.Program;
  if (program.find('/') != std::string::npos && program.front() != '/') {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(program, ec);
    if (!ec) program = absolute.string();
  }

  int pipeFds[2] = {-1, -1};
  if (options.CaptureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) return fail(WinErrorFromErrno(errno));

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  int rc = 0;
  auto step = [&rc](int r) {
    if (rc == 0) rc = r;
  };
  step(posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  step(posix_spawnattr_setsigmask(&attr, &none));
  step(posix_spawnattr_setsigdefault(&attr, &all));
  step(posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0));
  if (options.CaptureOutput) {
    step(posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1));
    step(posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2));
  }
  step(posix_spawn_file_actions_addclosefrom_np(&actions, 3));
  if (!options.WorkDir.empty()) step(posix_spawn_file_actions_addchdir_np(&actions, options.WorkDir.c_str()));

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(options.Program.c_str()));
  for (const auto& arg : options.Arguments) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  auto spawn = [&] { rc = ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ); };
  if (rc == 0 && options.Priority != 0) {
    // A child takes its nice value from the thread that starts it, so a thread of its
    // own starts it: no moment runs at the wrong priority, and ours is left alone.
    struct TAtPriority {
      int Nice;
      std::function<void()> Spawn;
    } job{NiceFromPriority(options.Priority), spawn};
    pthread_t starter;
    const int created = ::pthread_create(
        &starter, nullptr,
        [](void* arg) -> void* {
          auto* j = static_cast<TAtPriority*>(arg);
          ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), j->Nice);
          j->Spawn();
          return nullptr;
        },
        &job);
    // No thread to be had: the child starts at our own priority rather than not at all.
    if (created == 0)
      ::pthread_join(starter, nullptr);
    else
      spawn();
  } else if (rc == 0) {
    spawn();
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  CloseFd(pipeFds[1]);
  if (rc != 0) {
    CloseFd(pipeFds[0]);
    return fail(WinErrorFromErrno(rc));
  }

  auto state = std::make_shared<TProcessState>();
  state->Pid = pid;
  state->PidFd = PidFdOpen(pid);
  state->OutputFd = pipeFds[0];
  result.Value = pid;
  result.State = std::move(state);
  return result;
}

bool WaitForProcess(const TProcessHandle& process, int timeoutMs) {
  auto state = process.State;
  if (!state) return false;
  int pidFd;
  {
    std::lock_guard lock(state->Lock);
    if (state->Closed) return false;
    if (state->CheckEnded()) return true;
    pidFd = state->PidFd;
  }
  if (pidFd >= 0) {
    pollfd fd{pidFd, POLLIN, 0};
    PollFor(&fd, 1, timeoutMs);
    std::lock_guard lock(state->Lock);
    return !state->Closed && state->CheckEnded();
  }
  // No process descriptor to sleep on: look again every few milliseconds.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    {
      std::lock_guard lock(state->Lock);
      if (state->Closed) return false;
      if (state->CheckEnded()) return true;
    }
    if (timeoutMs >= 0 && Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool GetProcessExitCode(const TProcessHandle& process, int& exitCode) {
  auto state = process.State;
  if (!state) return false;
  std::lock_guard lock(state->Lock);
  if (state->Closed) return false;
  state->CheckEnded();
  exitCode = state->ExitCode;
  return true;
}

namespace {

bool Terminate(const TProcessHandle& process, int exitCode, bool wholeGroup) {
  auto state = process.State;
  if (!state) return false;
  std::lock_guard lock(state->Lock);
  if (state->Closed) return false;
  bool ended = state->CheckEnded();
  // The unreaped leader keeps its id reserved, so the group id is still ours to use.
  bool groupHit = wholeGroup && ::kill(-state->Pid, SIGKILL) == 0;
  if (ended) return groupHit;
  if (!state->Signal(SIGKILL)) return groupHit;
  state->Terminated = true;
  state->TerminateCode = exitCode;
  return true;
}

}  // namespace

bool TerminateProcess(const TProcessHandle& process, int exitCode) {
  return Terminate(process, exitCode, false);
}

bool TerminateProcessGroup(const TProcessHandle& process, int exitCode) {
  return Terminate(process, exitCode, true);
}

void CloseProcessHandle(TProcessHandle& process) {
  if (process.State) {
    std::lock_guard lock(process.State->Lock);
    process.State->Release();
  }
  process.State.reset();
}

int ReadProcessOutput(const TProcessHandle& process, char* buffer, int size, int waitMs) {
  auto state = process.State;
  if (!state) return -1;
  int outFd, pidFd;
  {
    std::lock_guard lock(state->Lock);
    if (state->Closed) return -1;
    outFd = state->OutputFd;
    pidFd = state->PidFd;
  }
  pollfd fds[2];
  nfds_t count = 0;
  if (outFd >= 0) fds[count++] = {outFd, POLLIN, 0};
  if (pidFd >= 0) fds[count++] = {pidFd, POLLIN, 0};
  if (count == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(waitMs, 0)));
    return -1;
  }
  PollFor(fds, count, waitMs);
  if (outFd < 0) return -1;
  if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) return 0;
  ssize_t n;
  do {
    n = ::read(outFd, buffer, static_cast<size_t>(std::max(size, 0)));
  } while (n < 0 && errno == EINTR);
  if (n > 0) return static_cast<int>(n);
  // Every writer has closed its end: stop watching it, so that later calls sleep on the
  // process alone instead of returning at once.
  std::lock_guard lock(state->Lock);
  if (state->OutputFd == outFd) CloseFd(state->OutputFd);
  return -1;
}
