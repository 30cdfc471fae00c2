#include "common/ProcessLaunch.h"

#include "platform/SysErrors.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ReadFileBytes;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

void WriteScript(const std::string& path, const std::string& body) {
  WriteFileBytes(path, "#!/bin/sh\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
}

struct TCaptured {
  std::string Output;
  std::vector<std::string> Chunks;
  int Error = -1;
  int ExitCode = 0;
};

TCaptured Capture(const std::string& commandLine, int timeoutMs = 0, int exitCodeIn = 0,
                  const std::atomic<bool>* abortFlag = nullptr, const std::string& workDir = "") {
  TCaptured result;
  result.ExitCode = exitCodeIn;
  RunCaptured(commandLine, workDir, result.Error, result.Output, 0, 0, abortFlag, timeoutMs, NoUserToken,
              [&result](std::string_view chunk) { result.Chunks.emplace_back(chunk); }, result.ExitCode);
  return result;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

bool ProcessGone(std::int64_t pid) {
  return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

// Polls a condition that needs another process to get somewhere; not a timing check.
template <typename F>
bool Eventually(F condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

}  // namespace

TEST(ProcessLaunch, SplitsTheProgramFromItsArguments) {
  auto parts = SplitCommandLine("\"/opt/my tools/run\"   -a  b  ");
  EXPECT_EQ(parts.Program, "/opt/my tools/run");
  EXPECT_EQ(parts.Arguments, "-a  b");

  parts = SplitCommandLine("/opt/my tools/run -a");
  EXPECT_EQ(parts.Program, "/opt/my");
  EXPECT_EQ(parts.Arguments, "tools/run -a");

  parts = SplitCommandLine("notepad");
  EXPECT_EQ(parts.Program, "notepad");
  EXPECT_EQ(parts.Arguments, "");

  parts = SplitCommandLine("   ls -l");
  EXPECT_EQ(parts.Program, "ls");
  EXPECT_EQ(parts.Arguments, "-l");

  // An unclosed quote takes the rest of the line as the program rather than nothing.
  parts = SplitCommandLine("\"/opt/my tools/run");
  EXPECT_EQ(parts.Program, "/opt/my tools/run");
  EXPECT_EQ(parts.Arguments, "");

  EXPECT_EQ(SplitCommandLine("").Program, "");
}

TEST(ProcessLaunch, ParsesArgumentsWithTheWindowsQuotingRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ParseArguments("a  b\tc"), (V{"a", "b", "c"}));
  EXPECT_EQ(ParseArguments("\"a b\" c"), (V{"a b", "c"}));
  EXPECT_EQ(ParseArguments("x\"y z\"w"), (V{"xy zw"}));
  EXPECT_EQ(ParseArguments("\"\" x"), (V{"", "x"}));
  EXPECT_EQ(ParseArguments("\"a \"\"b\"\" c\""), (V{"a \"b\" c"}));
  // Backslashes are literal unless a double quote follows them.
  EXPECT_EQ(ParseArguments("C:\\dir\\ a\\\\b"), (V{"C:\\dir\\", "a\\\\b"}));
  EXPECT_EQ(ParseArguments("a\\\"b"), (V{"a\"b"}));
  EXPECT_EQ(ParseArguments("a\\\\\"b c\""), (V{"a\\b c"}));
  EXPECT_EQ(ParseArguments("a\\\\\\\"b"), (V{"a\\\"b"}));
  EXPECT_EQ(ParseArguments("\"C:\\Program Files\\\\\" next"), (V{"C:\\Program Files\\", "next"}));
  EXPECT_TRUE(ParseArguments("  \t ").empty());
}

TEST(ProcessLaunch, StartsTheProgramTheCommandLineNames) {
  TTempDir tmp;
  const std::string dir = tmp.File("my dir");
  std::filesystem::create_directory(dir);
  // Each script lists its arguments, one a line, in a file of the working folder.
  WriteScript(dir + "/prog", "printf '%s\\n' \"$@\" > quoted.txt");
  WriteScript(tmp.File("my"), "printf '%s\\n' \"$@\" > unquoted.txt");

  int exitCode = -1;
  ASSERT_EQ(RunAndWait("\"" + dir + "/prog\" one \"two three\" 'four'", tmp.Path(), 0, NoUserToken, exitCode), 0);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(ReadFileBytes(tmp.File("quoted.txt")), "one\ntwo three\n'four'\n");

  ASSERT_EQ(RunAndWait(dir + "/prog x", tmp.Path(), 0, NoUserToken, exitCode), 0);
  EXPECT_EQ(ReadFileBytes(tmp.File("unquoted.txt")), "dir/prog\nx\n");

  // No shell: its characters reach the program as they are.
  auto captured = Capture("printf \"%s|\" $HOME \"a b\" ; *");
  EXPECT_EQ(captured.Output, "$HOME|a b|;|*|");

  // The working folder may be written the Windows way.
  captured = Capture("pwd", 0, 0, nullptr, tmp.Path() + "\\my dir\\");
  EXPECT_EQ(captured.Output, std::filesystem::canonical(dir).string() + "\n");
}

TEST(ProcessLaunch, ReportsStartFailuresAsNegatedSystemErrors) {
  TTempDir tmp;
  EXPECT_EQ(LaunchProcess("no-such-program-here --x", "", 0).Value, -syserr::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LaunchProcess(tmp.File("missing") + " a", "", 0).Value, -syserr::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LaunchProcess("", "", 0).Value, -syserr::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LaunchProcess("true", tmp.File("no such folder"), 0).Value, -267);
  EXPECT_EQ(LaunchProcess("true", "", 0, 1234).Value, -50);

  WriteFileBytes(tmp.File("plain.txt"), "not a program");
  EXPECT_EQ(LaunchProcess(tmp.File("plain.txt"), "", 0).Value, -syserr::ERROR_ACCESS_DENIED);

  int exitCode = 42;
  EXPECT_EQ(RunAndWait("no-such-program-here", tmp.Path(), 0, NoUserToken, exitCode), -syserr::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(exitCode, 42);

  auto captured = Capture("no-such-program-here");
  EXPECT_EQ(captured.Error, syserr::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(captured.Output, "");
}

TEST(ProcessLaunch, HandleWaitsTerminatesAndReportsExitCodes) {
  TProcessHandle process = LaunchProcess("sleep 30", "", 0);
  ASSERT_GT(process.Value, 0);
  int exitCode = -1;
  EXPECT_FALSE(WaitForProcess(process, 20));
  ASSERT_TRUE(GetProcessExitCode(process, exitCode));
  EXPECT_EQ(exitCode, STILL_ACTIVE);
  EXPECT_TRUE(TerminateProcess(process, 9));
  EXPECT_TRUE(WaitForProcess(process, INFINITE_WAIT));
  ASSERT_TRUE(GetProcessExitCode(process, exitCode));
  EXPECT_EQ(exitCode, 9);
  EXPECT_FALSE(TerminateProcess(process, 10));  // already ended
  TProcessHandle copy = process;
  CloseProcessHandle(process);
  EXPECT_FALSE(GetProcessExitCode(copy, exitCode));
  EXPECT_FALSE(WaitForProcess(copy, 0));
  CloseProcessHandle(copy);

  // An exit code of its own, and one from a signal nobody here sent.
  process = LaunchProcess("/bin/sh -c \"exit 7\"", "", 0);
  ASSERT_TRUE(WaitForProcess(process, INFINITE_WAIT));
  GetProcessExitCode(process, exitCode);
  EXPECT_EQ(exitCode, 7);
  CloseProcessHandle(process);
  process = LaunchProcess("/bin/sh -c \"kill -TERM $$\"", "", 0);
  ASSERT_TRUE(WaitForProcess(process, INFINITE_WAIT));
  GetProcessExitCode(process, exitCode);
  EXPECT_EQ(exitCode, 128 + SIGTERM);
  CloseProcessHandle(process);

  TProcessHandle none;
  EXPECT_FALSE(WaitForProcess(none, 0));
  EXPECT_FALSE(TerminateProcess(none, 1));
  CloseProcessHandle(none);
}

TEST(ProcessLaunch, ClosedOrDroppedHandlesLeaveNoZombies) {
  // Closed while running: reaped once it ends.
  TProcessHandle running = LaunchProcess("sleep 0.3", "", 0);
  ASSERT_GT(running.Value, 0);
  const auto runningPid = running.Value;
  CloseProcessHandle(running);
  EXPECT_TRUE(Eventually([&] { return ProcessGone(runningPid); }));

  // Closed after it ended: reaped at once.
  TProcessHandle ended = LaunchProcess("true", "", 0);
  const auto endedPid = ended.Value;
  ASSERT_TRUE(WaitForProcess(ended, INFINITE_WAIT));
  EXPECT_FALSE(ProcessGone(endedPid));  // kept for its exit code until the handle goes
  CloseProcessHandle(ended);
  EXPECT_TRUE(ProcessGone(endedPid));

  // Never closed: the last copy going releases it.
  std::int64_t droppedPid;
  {
    TProcessHandle dropped = LaunchProcess("true", "", 0);
    droppedPid = dropped.Value;
    ASSERT_TRUE(WaitForProcess(dropped, INFINITE_WAIT));
  }
  EXPECT_TRUE(ProcessGone(droppedPid));
}

TEST(ProcessLaunch, RunAndWaitKeepsTheEventLoopRunning) {
  TTempDir tmp;
  bool timerRan = false;
  QTimer::singleShot(0, [&timerRan] { timerRan = true; });
  int exitCode = -1;
  ASSERT_EQ(RunAndWait("/bin/sh -c \"sleep 0.2; exit 3\"", tmp.Path(), 0, NoUserToken, exitCode), 0);
  EXPECT_EQ(exitCode, 3);
  EXPECT_TRUE(timerRan);
}

TEST(ProcessLaunch, RunCapturedCollectsAllOutputInOrder) {
  std::string expected;
  for (int i = 1; i <= 5000; ++i) expected += std::to_string(i) + "\n";
  auto captured = Capture("seq 1 5000", 0, 99);
  EXPECT_EQ(captured.Error, 0);
  EXPECT_EQ(captured.ExitCode, 0);
  EXPECT_EQ(captured.Output, expected);
  EXPECT_EQ(Joined(captured.Chunks), expected);
  EXPECT_GT(captured.Chunks.size(), 1u);
  for (const auto& chunk : captured.Chunks) EXPECT_LE(chunk.size(), 1024u);

  // Standard error goes into the same stream; the exit code comes back.
  captured = Capture("/bin/sh -c \"echo out; echo err 1>&2; echo again; exit 5\"");
  EXPECT_EQ(captured.Output, "out\nerr\nagain\n");
  EXPECT_EQ(captured.ExitCode, 5);

  // Input is empty, so a command that reads it ends at once.
  captured = Capture("cat");
  EXPECT_EQ(captured.Output, "");
  EXPECT_EQ(captured.ExitCode, 0);

  // A throwing callback loses nothing, and its fault is reported once.
  int errorCode = -1, exitCode = 0;
  std::string output;
  std::vector<std::string> faults;
  RunCaptured("seq 1 3000", "", errorCode, output, 0, 0, nullptr, 0, NoUserToken,
              [](std::string_view) { throw std::runtime_error("callback failed"); }, exitCode,
              [&faults](const std::string& where, const std::string& what) { faults.push_back(where + ": " + what); });
  EXPECT_EQ(output, expected.substr(0, expected.find("\n3001\n") + 1));
  EXPECT_EQ(faults, std::vector<std::string>{"RunCaptured output callback: callback failed"});

  // The command line is cut where the original buffer ended.
  captured = Capture("echo " + std::string(300, 'x'));
  EXPECT_EQ(captured.Output, std::string(250, 'x') + "\n");

  // The priority becomes the nice value.
  output.clear();
  RunCaptured("nice", "", errorCode, output, -1, 0, nullptr, 0, NoUserToken, nullptr, exitCode);
  EXPECT_EQ(output, "5\n");
}

TEST(ProcessLaunch, RunCapturedPassesNoDescriptorsOfOurs) {
  const int original = ::open("/dev/null", O_RDONLY);
  const int leaked = ::fcntl(original, F_DUPFD, 50);  // without close-on-exec
  ::close(original);
  ASSERT_GE(leaked, 50);
  auto captured = Capture("ls /proc/self/fd");
  ::close(leaked);
  EXPECT_EQ(captured.Output.find(std::to_string(leaked)), std::string::npos) << captured.Output;
  EXPECT_NE(captured.Output.find("2\n"), std::string::npos) << captured.Output;
}

TEST(ProcessLaunch, RunCapturedEndsOverdueAndAbortedCommands) {
  // Timed out: ended with the code passed in, what it wrote before is kept.
  auto captured = Capture("/bin/sh -c \"echo started; exec sleep 30\"", 1000, 77);
  EXPECT_EQ(captured.Error, 0);
  EXPECT_EQ(captured.Output, "started\n");
  EXPECT_EQ(captured.ExitCode, 77);

  // Aborted from the callback as soon as the first output arrives.
  std::atomic<bool> abort{false};
  int errorCode = -1, exitCode = 55;
  std::string output;
  RunCaptured("/bin/sh -c \"echo started; exec sleep 30\"", "", errorCode, output, 0, 0, &abort, 0, NoUserToken,
              [&abort](std::string_view) { abort = true; }, exitCode);
  EXPECT_EQ(output, "started\n");
  EXPECT_EQ(exitCode, 55);

  // What the command started ends with it.
  TTempDir tmp;
  captured = Capture("/bin/sh -c \"sleep 30 & echo $! > child.pid; wait\"", 500, 1, nullptr, tmp.Path());
  ASSERT_TRUE(Eventually([&] { return !ReadFileBytes(tmp.File("child.pid")).empty(); }));
  const int grandchild = std::stoi(ReadFileBytes(tmp.File("child.pid")));
  EXPECT_TRUE(Eventually([&] { return ProcessGone(grandchild); }));
}

TEST(ProcessLaunch, RunCapturedIsNotHeldByAnEscapedGrandchild) {
  TTempDir tmp;
  // The grandchild leaves the command's session, keeps the pipe open and never writes;
  // the command itself ends at once.
  auto captured = Capture(
      "/bin/sh -c \"setsid /bin/sh -c 'echo $$ > escaped.pid; exec sleep 1000' & echo done\"", 0, 0, nullptr,
      tmp.Path());
  EXPECT_EQ(captured.Output, "done\n");
  EXPECT_EQ(captured.ExitCode, 0);
  ASSERT_TRUE(Eventually([&] { return ReadFileBytes(tmp.File("escaped.pid")).find('\n') != std::string::npos; }));
  ::kill(std::stoi(ReadFileBytes(tmp.File("escaped.pid"))), SIGKILL);

  // The escaped grandchild writes without end: the time-out still ends the reading.
  captured = Capture("/bin/sh -c \"setsid yes & exec sleep 30\"", 1000, 13);
  EXPECT_EQ(captured.ExitCode, 13);
  EXPECT_EQ(captured.Output.compare(0, 4, "y\ny\n"), 0);
}
