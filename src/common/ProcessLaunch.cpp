#include "common/ProcessLaunch.h"

#include "common/FileUtils.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

namespace {

constexpr size_t MaxCapturedCommandLine = 255;
constexpr int ChunkSize = 1024;
// How long one look at the pipe may sleep, so that the abort flag is seen soon.
constexpr int PollSliceMs = 10;
// After a forced end, what is left in the pipe is read up to this much: a writer that
// escaped into a session of its own must not keep us reading.
constexpr size_t DrainLimitAfterKill = 1 << 20;
constexpr int KillWaitMs = 5000;

std::string Trim(std::string_view text) {
  auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return std::string(text);
}

TSpawnOptions SpawnOptionsFor(const std::string& commandLine, const std::string& workDir, TUserToken token) {
  TCommandLine parts = SplitCommandLine(commandLine);
  TSpawnOptions options;
  options.Program = ShortPathName(parts.Program);
  options.Arguments = ParseArguments(parts.Arguments);
  options.WorkDir = NativePath(workDir);
  options.Token = token;
  return options;
}

}  // namespace

TCommandLine SplitCommandLine(const std::string& commandLine) {
  std::string_view line = commandLine;
  line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  TCommandLine result;
  size_t end;
  if (!line.empty() && line.front() == '"') {
    line.remove_prefix(1);
    end = line.find('"');
  } else {
    end = line.find(' ');
  }
  result.Program = std::string(line.substr(0, end));
  if (end != std::string_view::npos) result.Arguments = Trim(line.substr(end + 1));
  return result;
}

std::vector<std::string> ParseArguments(const std::string& arguments) {
  std::vector<std::string> result;
  const std::string& s = arguments;
  const size_t n = s.size();
  size_t i = 0;
  for (;;) {
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      if (s[i] == '\\') {
        size_t count = 0;
        while (i < n && s[i] == '\\') ++count, ++i;
        if (i < n && s[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) arg += s[i++];
        } else {
          arg.append(count, '\\');
        }
      } else if (s[i] == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += s[i++];
      }
    }
    result.push_back(std::move(arg));
  }
  return result;
}

TProcessHandle LaunchProcess(const std::string& commandLine, const std::string& workDir, int showWindow,
                             TUserToken token) {
  return SpawnProcess(SpawnOptionsFor(commandLine, workDir, token));
}

int RunAndWait(const std::string& commandLine, const std::string& workDir, int showWindow, TUserToken token,
               int& exitCode) {
  TProcessHandle process = LaunchProcess(commandLine, workDir, showWindow, token);
  if (process.Value < 0) return static_cast<int>(process.Value);
  while (!WaitForProcess(process, 10))
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
  GetProcessExitCode(process, exitCode);
  CloseProcessHandle(process);
  return 0;
}

void RunCaptured(const std::string& commandLine, const std::string& workDir, int& errorCode, std::string& output,
                 int threadPriority, unsigned creationFlags, const std::atomic<bool>* abortFlag, int timeoutMs,
                 TUserToken token, const TOutputChunkCallback& onChunk, int& exitCode,
                 const TFaultHook& faultHook) {
  errorCode = 0;
  output.clear();
  TSpawnOptions options = SpawnOptionsFor(commandLine.substr(0, MaxCapturedCommandLine), workDir, token);
  options.CaptureOutput = true;
  options.Priority = threadPriority;
  TProcessHandle process = SpawnProcess(options);
  if (process.Value < 0) {
    errorCode = static_cast<int>(-process.Value);
    return;
  }

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto elapsedMs = [&start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  };
  auto timedOut = [&] { return timeoutMs > 0 && elapsedMs() > timeoutMs; };
  char buffer[ChunkSize];
  bool callbackFailed = false;
  auto take = [&](int waitMs) -> size_t {
    int n = ReadProcessOutput(process, buffer, ChunkSize, waitMs);
    if (n <= 0) return 0;
    std::string_view chunk(buffer, static_cast<size_t>(n));
    output.append(chunk);
    if (onChunk) {
      try {
        onChunk(chunk);
      } catch (...) {
        // The output is kept all the same; a callback that fails on every chunk is told once.
        if (!callbackFailed) ReportFault(faultHook, "RunCaptured output callback", CurrentExceptionText());
        callbackFailed = true;
      }
    }
    return chunk.size();
  };

  bool killed = false;
  for (;;) {
    int waitMs = PollSliceMs;
    if (timeoutMs > 0) waitMs = static_cast<int>(std::clamp<std::int64_t>(timeoutMs + 1 - elapsedMs(), 0, waitMs));
    bool readData = take(waitMs) > 0;
    if (abortFlag && abortFlag->load()) {
      TerminateProcessGroup(process, exitCode);
      killed = true;
      break;
    }
    bool running = !WaitForProcess(process, 0);
    if (!(running || readData) || timedOut()) break;
  }

  // Unlike the pipe's original reader we end an overdue command before reading the
  // rest: a command that keeps writing would otherwise keep us here for good.
  size_t drained = 0;
  for (;;) {
    if (!killed && timedOut()) {
      TerminateProcessGroup(process, exitCode);
      killed = true;
      drained = 0;
    }
    size_t n = take(0);
    if (n == 0 || (killed && (drained += n) >= DrainLimitAfterKill)) break;
  }
  if (killed) WaitForProcess(process, KillWaitMs);
  GetProcessExitCode(process, exitCode);
  CloseProcessHandle(process);
}
