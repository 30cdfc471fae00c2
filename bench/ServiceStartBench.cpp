// `corvale service` started as its supervisor starts it, on a hosts file of 10,000
// loopback ping hosts tested every 60 minutes: the time from fork/exec to the first
// answer of its window to a show request (3023), sent as corvale-msg sends it. Each run
// has a folder of its own (registry, data, window folder and hosts file); the figures are
// the least, the median and the most of --runs runs (7 unless given). --program=PATH
// starts another build of the program, to compare two builds on the same machine;
// --hosts=N another number of hosts (0 gives the cost of starting the program alone).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchMonitor.h"
#include "platform/WindowMessages.h"

namespace {

using TSteady = std::chrono::steady_clock;

constexpr double IntervalMinutes = 60;
constexpr std::uint32_t ShowRequest = 3023;
constexpr std::uint32_t CloseRequest = 3022;
constexpr int GiveUpMs = 30000;
int Runs = 7;
int Hosts = 10000;
std::string Program = std::string(CORVALE_BIN_DIR) + "/corvale";

double MsSince(TSteady::time_point start) {
  return std::chrono::duration<double, std::milli>(TSteady::now() - start).count();
}

// The program with the benchmark's environment; its output goes nowhere.
pid_t StartService(const std::string& hostsFile) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execl(Program.c_str(), Program.c_str(), "service", hostsFile.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// Polls until the process has gone; kills it when it takes longer than the limit.
void AwaitExit(pid_t pid, int limitMs) {
  const auto start = TSteady::now();
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (MsSince(start) > limitMs) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct TRun {
  double WindowMs = -1;  // the window could be found
  double AnswerMs = -1;  // it answered the show request
};

TRun OneRun() {
  benchmonitor::TBenchFolder folder;
  const std::string hosts = folder.File("bench.cvlh");
  benchmonitor::WriteLoopbackHosts(hosts, Hosts, IntervalMinutes);
  TRun run;
  const auto start = TSteady::now();
  const pid_t pid = StartService(hosts);
  if (pid < 0) return run;
  std::uintptr_t hwnd = 0;
  while (MsSince(start) < GiveUpMs) {
    if (!hwnd && (hwnd = FindWindow("TfrmCorvale")) != 0) run.WindowMs = MsSince(start);
    std::intptr_t result = 0;
    // The window takes messages before start-up has finished; they wait for its loop.
    if (hwnd && SendMessageTimeout(hwnd, ShowRequest, 0, 0, GiveUpMs, result)) {
      run.AnswerMs = MsSince(start);
      break;
    }
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return run;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (hwnd) PostMessage(hwnd, CloseRequest, 0, 0);
  AwaitExit(pid, GiveUpMs);
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void BM_ServiceFirstAnswer(benchmark::State& state) {
  std::vector<double> answers, windows;
  for (auto _ : state) {
    const TRun run = OneRun();
    if (run.AnswerMs < 0) {
      state.SkipWithError("the service's window did not answer");
      return;
    }
    answers.push_back(run.AnswerMs);
    windows.push_back(run.WindowMs);
    state.SetIterationTime(run.AnswerMs / 1000);
  }
  state.counters["answer_min_ms"] = *std::min_element(answers.begin(), answers.end());
  state.counters["answer_median_ms"] = Median(answers);
  state.counters["answer_max_ms"] = *std::max_element(answers.begin(), answers.end());
  state.counters["window_median_ms"] = Median(windows);
  state.counters["runs"] = static_cast<double>(answers.size());
}

}  // namespace

int main(int argc, char** argv) {
  // Our own option goes before the benchmark library sees the arguments.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--runs=", 7) == 0) Runs = std::max(1, std::atoi(argv[i] + 7));
    else if (std::strncmp(argv[i], "--program=", 10) == 0) Program = argv[i] + 10;
    else if (std::strncmp(argv[i], "--hosts=", 8) == 0) Hosts = std::max(0, std::atoi(argv[i] + 8));
    else argv[kept++] = argv[i];
  }
  argc = kept;
  benchmark::RegisterBenchmark("BM_ServiceFirstAnswer", BM_ServiceFirstAnswer)
      ->Iterations(Runs)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
