#pragma once
// Child processes: start, wait, exit code, termination, and the output pipe of a
// child whose standard output and error are captured.
//
// Every child starts a session of its own (the stand-in for a console of its own): a
// Ctrl-C meant for us does not reach it, and TerminateProcessGroup can end it together
// with everything it started. Its standard input is empty (/dev/null), no descriptor of
// ours but the standard output and error is inherited, and every signal disposition is
// back to its default.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The exit code reported for a process that is still running.
constexpr int STILL_ACTIVE = 259;
constexpr int INFINITE_WAIT = -1;

// A user token to start a process as another user. Processes here always run as the
// caller: only the empty token is accepted, any other gives ERROR_NOT_SUPPORTED (50).
using TUserToken = std::int64_t;
constexpr TUserToken NoUserToken = 0;

struct TProcessState;

// A started child process. Copies refer to the same process; the caller closes it once
// with CloseProcessHandle. A handle that is dropped without closing is closed when its
// last copy goes, so no ended child stays a zombie either way.
struct TProcessHandle {
  // The child's process id after a successful start, the negated system error code
  // after a failed one, 0 when nothing was started.
  std::int64_t Value = 0;
  std::shared_ptr<TProcessState> State;
};

struct TSpawnOptions {
  // Searched in PATH when it has no "/"; a relative path with a "/" is taken from our
  // own current folder, not from WorkDir.
  std::string Program;
  // argv[1] onwards; argv[0] is Program as given.
  std::vector<std::string> Arguments;
  std::string WorkDir;  // empty: inherit ours
  // Standard output and error go to one pipe read with ReadProcessOutput.
  bool CaptureOutput = false;
  // A thread priority value (-15 idle .. 0 normal .. 15 time-critical), applied as the
  // child's nice value; raising it above normal needs privileges and is skipped silently.
  int Priority = 0;
  TUserToken Token = NoUserToken;
};

// Starts the program. Failures come back in Value as negated system error codes: a
// missing program gives -ERROR_FILE_NOT_FOUND, a missing working folder -ERROR_DIRECTORY.
TProcessHandle SpawnProcess(const TSpawnOptions& options);

// True when the process has ended, waiting at most timeoutMs (INFINITE_WAIT: no limit).
// False on time-out and for a handle without a process or already closed.
bool WaitForProcess(const TProcessHandle& process, int timeoutMs);

// The exit code, or STILL_ACTIVE while the process runs. A process ended by a signal
// reports 128 + the signal number, except that one ended by TerminateProcess reports the
// code given there. False for a handle without a process or already closed.
bool GetProcessExitCode(const TProcessHandle& process, int& exitCode);

// Kills the process; it then reports exitCode. False when it had already ended or the
// handle is not open.
bool TerminateProcess(const TProcessHandle& process, int exitCode);
// The same for the child's whole session, so that what it started ends with it.
bool TerminateProcessGroup(const TProcessHandle& process, int exitCode);

// Releases the handle and every copy of it. A child that still runs is reaped by a
// small waiter thread when it ends. Call it when no other thread uses the handle.
void CloseProcessHandle(TProcessHandle& process);

// Waits at most waitMs for captured output (returning early when the process ends) and
// reads up to size bytes of it. Returns the number of bytes read; 0 when none arrived;
// -1 when the output is closed for good (or was not captured), after waiting up to
// waitMs for the process to end. One thread reads at a time.
int ReadProcessOutput(const TProcessHandle& process, char* buffer, int size, int waitMs);
