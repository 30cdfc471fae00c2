// The scheduler pass on Timer1, test starts and the host tests' completion handlers.
#include "core/TMonitor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

#include "common/Clock.h"
#include "common/ErrorText.h"
#include "core/THostList.h"
#include "hosttests/TPingThread.h"
#include "hosttests/TTCPThread.h"

namespace {

constexpr long long MsPerMinute = 60000;
constexpr long long ProbeEveryMs = static_cast<long long>(CapabilityProbeInterval * MSecsPerDay + 0.5);
constexpr long long AutoTraceEveryMs = static_cast<long long>(AutoTraceInterval * MSecsPerDay + 0.5);
constexpr int MaxProbesInFlight = 4;
constexpr int ProbeAttempts = 3;
constexpr std::int32_t SharePort = 139;
constexpr std::int32_t RDPPort = 3389;
const char* const PeriodicTraceName = "Automatic Trace Route";

// Date-times hold whole milliseconds, so spans are compared in them: a day count's
// rounding must not put a test off by a pass.
long long SpanMs(TDateTime from, TDateTime to) { return std::llround((to - from) * MSecsPerDay); }

// The test interval, stretched for a host that keeps failing so that it is tested less
// often by the same steps as its errors are weighted.
long long EffectiveIntervalMs(const THost& host, bool failFreqAdj) {
  double minutes = host.TestInterval;
  if (failFreqAdj) {
    const std::uint32_t n = host.BackToBackFailures;
    minutes *= n >= 50 ? 10 : n >= 20 ? 5 : n >= 10 ? 3 : 1;
  }
  return std::llround(minutes * MsPerMinute);
}

bool SameText(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// The slowest step of a pass, for the status trace. The clock is read once per host and
// after each step that did real work, so a pass over many idle hosts stays cheap; the
// step's name is built only when it becomes the slowest.
class TLongestStep {
public:
  explicit TLongestStep(const TClock& clock) : FClock(clock), FMark(clock.Milliseconds()) {}

  void Mark(const char* name, const THost* host = nullptr) {
    const double now = FClock.Milliseconds();
    if (FName.empty() || now - FMark > FLongestMs) {
      FLongestMs = now - FMark;
      FName = host ? name + host->DisplayName : std::string(name);
    }
    FMark = now;
  }

  std::string Text() const { return FName + " " + std::to_string(std::llround(FLongestMs)); }

private:
  const TClock& FClock;
  double FMark;
  double FLongestMs = 0;
  std::string FName;
};

// Starts the worker of the host's test kind; nothing for a kind that has none.
std::shared_ptr<TBackgroundTask> StartHostTest(TMonitor& m, const THost& host) {
  const TSettings& s = m.Settings();
  switch (host.TestKind) {
    case TestPing:
      m.Trace("Create PingThread " + host.DisplayName);
      return TPingThread::Create(m.Tests(), "Ping " + host.DisplayName, host.Address, false, host.ID, 255,
                                 s.PingTimeout, std::bind_front(&TMonitor::PingCallback, &m), s.NumPings);
    case TestTCP:
      m.Trace("Create TCPThread " + host.DisplayName);
      return TTCPThread::Create(m.Tests(), "TCP " + host.DisplayName, host.Address, false, host.ID,
                                std::bind_front(&TMonitor::TCPCallback, &m), s.NumPings, host.Port,
                                s.TCPConnectTimeout);
    default:
      return nullptr;
  }
}

// Index in the host list of a host reference handed back by a worker; -1 when none.
int FindHost(const THostList& hosts, std::int64_t hostID) {
  return hostID >= 0 && hostID <= MaxHostID ? hosts.FindByID(static_cast<std::int32_t>(hostID)) : -1;
}

// The listed host whose running test is the finished one, with that test cleared; -1
// when the host is gone or the test was abandoned (a newer one may be running), and -1
// too for a test told to stop (the host list being replaced): cut short, its failure
// says nothing about the host.
int TakeFinishedTest(TMonitor& m, const TBackgroundTask& thread, std::int64_t hostID) {
  const int index = FindHost(m.Hosts(), hostID);
  THost* host = m.Hosts().Items(index);
  if (!host || host->RunningTest.get() != &thread) return -1;
  {
    std::unique_lock<std::shared_mutex> guard(m.StateLock());
    host->RunningTest.reset();
  }
  return thread.Terminated() ? -1 : index;
}

// An overdue test or trace is abandoned rather than killed: the work ends on its own
// and gives its slot back then, and its late result finds another running test or none.
void Abandon(TMonitor& m, THost& host, std::shared_ptr<TBackgroundTask> THost::*slot, const char* message) {
  if (!(host.*slot)) return;
  m.LogEvent(&host, message, 'E');
  std::shared_ptr<TBackgroundTask> task;
  {
    std::unique_lock<std::shared_mutex> guard(m.StateLock());
    task = std::exchange(host.*slot, nullptr);
  }
  task->Terminate();
  m.RemoveFromRunningTests(task.get());
}

void ReleaseRetired(TMonitor& m, std::int64_t hostID) {
  try {
    if (hostID >= 0 && hostID <= MaxHostID) m.Hosts().ReleaseRetired(static_cast<std::int32_t>(hostID));
  } catch (...) {
    m.ReportCurrentException("ReleaseRetired");
  }
}

}  // namespace

void TMonitor::Timer1Timer() {
  // Started again only when it ran: a pass called directly does not start the timer.
  const bool timerRan = Timer1.isActive();
  Timer1.stop();
  const TDateTime now = FClock.Now();
  TLongestStep steps(FClock);
  try {
    FTests->MaxPingThreads.store(FSettings.MaxPingThreads);
    FTests->MaxTCPThreads.store(FSettings.MaxTCPThreads);
    FTests->MaxServiceThreads.store(FSettings.MaxServiceThreads);
    FTests->MaxShareThreads.store(FSettings.MaxShareThreads);
    if (FPeriodicTraces > 0) {
      // Counted by what really runs, so a trace that ended without a word is not
      // counted for ever.
      std::erase_if(FRunningTests, [](const TRunningTask& t) {
        return t.Name == PeriodicTraceName && !(t.Task && t.Task->IsAlive());
      });
      FPeriodicTraces = static_cast<int>(std::count_if(FRunningTests.begin(), FRunningTests.end(),
                                                       [](const TRunningTask& t) { return t.Name == PeriodicTraceName; }));
    }
    const bool testing = FTestingOn && RunState() == rsRunning;
    const bool dayChanged = FPreviousPass > 0 && std::floor(now) > std::floor(FPreviousPass);
    const std::string previousDay = dayChanged ? FormatDateTime("mmm d, ", FPreviousPass) : std::string();
    int online = 0, warning = 0, offline = 0, disabled = 0;
    steps.Mark("Start Host Proc");

    for (int index = 0; index < FHosts->Count(); ++index) {
      try {
        THost& host = *FHosts->Items(index);
        // Group rows are headings: their status field holds the collapsed flag, and
        // nothing is tested, counted or probed for them.
        if (host.IsGroup()) continue;

        if (host.Status == StatusOnline) ++online;
        else if (host.Status == StatusWarning) ++warning;
        else if (host.Status == StatusOffline) ++offline;
        if (host.DisabledUntil > 1.0 && host.DisabledUntil < now) {
          std::unique_lock<std::shared_mutex> guard(FStateLock);
          host.DisabledUntil = 0;
        }
        const bool isDisabled = host.IsDisabled(now);
        if (isDisabled) ++disabled;
        steps.Mark("Prelim ", &host);

        if (testing && !isDisabled && !host.RunningTest &&
            (host.LastCheck == 0 ||
             SpanMs(std::max(host.LastFailure, host.LastSuccess), now) >=
                 EffectiveIntervalMs(host, FSettings.FailFreqAdj)) &&
            (host.EmailWindow || host.InDailyWindow(now)) && FHosts->ParentsUp(host, now)) {
          TestHost(index);
          steps.Mark("TestHost ", &host);
        }

        if ((host.RunningTest || host.RunningTrace) && SpanMs(host.LastCheck, now) > ThreadTimeoutMs) {
          Abandon(*this, host, &THost::RunningTest, "Thread Forcibly Terminated");
          Abandon(*this, host, &THost::RunningTrace, "Trace Thread Forcibly Terminated");
          steps.Mark("ForceStop ", &host);
        }

        // A last error text that still begins with a bare time gets its day once the
        // day is over.
        if (dayChanged && !host.LastErrorText.empty()) {
          const auto colon = host.LastErrorText.find(':');
          if (colon != std::string::npos && colon < 5) {
            std::unique_lock<std::shared_mutex> guard(FStateLock);
            host.LastErrorText.insert(0, previousDay);
          }
          steps.Mark("LastErr Update");
        }

        if (FSettings.TestHostServices && RunState() == rsRunning && FProbesInFlight <= MaxProbesInFlight &&
            SpanMs(host.LastProbe, now) > ProbeEveryMs) {
          {
            std::unique_lock<std::shared_mutex> guard(FStateLock);
            host.LastProbe = now;
          }
          for (const auto& [name, port] : {std::pair{"Test WinShare", SharePort}, std::pair{"Test WinRDP", RDPPort}}) {
            AddRunningTest(name, TTCPThread::Create(*FTests, name, host.Address, true, host.ID,
                                                    std::bind_front(&TMonitor::ProbeCallback, this), ProbeAttempts,
                                                    port, FSettings.TCPConnectTimeout));
            ++FProbesInFlight;
          }
          steps.Mark("Host Svc");
        }

        if (FPeriodicTraces < MaxPeriodicTraces && RunState() == rsRunning && !host.CurrentIP.empty() &&
            !host.LocalSubnet && SpanMs(host.LastAutoTrace, now) > AutoTraceEveryMs) {
          {
            std::unique_lock<std::shared_mutex> guard(FStateLock);
            host.LastAutoTrace = now;
          }
          if (std::shared_ptr<TBackgroundTask> trace = FAlerts->StartPeriodicTrace(host)) {
            AddRunningTest(PeriodicTraceName, std::move(trace));
            ++FPeriodicTraces;
          }
          steps.Mark("Auto Trace");
        }
      } catch (...) {
        // One record's trouble does not hold up the others.
        ReportCurrentException("Timer1");
      }
    }

    std::string hint = "Corvale - Okay: " + std::to_string(online) + "\rWarning: " + std::to_string(warning) +
                       " Error: " + std::to_string(offline);
    if (disabled > 0) hint += "\rDisabled: " + std::to_string(disabled);
    if (hint != FTrayHint) {
      FTrayHint = std::move(hint);
      emit TrayHintChanged();
    }
  } catch (...) {
    ReportCurrentException("Timer1");
  }
  Trace("Timer1 Longest Op: " + steps.Text());
  FPreviousPass = now;
  if (timerRan && FTestingOn && RunState() == rsRunning) Timer1.start();
}

void TMonitor::SetTestingOn(bool on) {
  const bool changed = FTestingOn != on;
  FTestingOn = on;
  if (on && FStarted && !FShutdownDone && RunState() == rsRunning) Timer1.start();
  if (!on) Timer1.stop();
  if (changed) emit TestingChanged(on);
}

void TMonitor::TestHost(int index) {
  try {
    THost* host = FHosts->Items(index);
    if (!host || host->RunningTest || host->IsGroup()) return;
    std::shared_ptr<TBackgroundTask> task = StartHostTest(*this, *host);
    if (!task) return;
    {
      std::unique_lock<std::shared_mutex> guard(FStateLock);
      host->RunningTest = task;
      host->PreviousCheck = host->LastCheck;
      host->LastCheck = FClock.Now();
    }
    AddRunningTest(task->Name(), task);
    RefreshHostRow(index, "TestHost");
  } catch (...) {
    ReportCurrentException("TestHost");
  }
}

void TMonitor::TestHostNow(int index) {
  const THost* host = FHosts->Items(index);
  if (!host) return;
  LogEvent(host, "Manual test", 'T');
  TestHost(index);
}

void TMonitor::RefreshAllHosts() {
  LogEvent(nullptr, "Refresh All Hosts", 'T');
  const TDateTime now = FClock.Now();
  for (int index = 0; index < FHosts->Count(); ++index)
    if (!FHosts->Items(index)->IsDisabled(now)) TestHost(index);
}

void TMonitor::AddRunningTest(const std::string& name, std::shared_ptr<TBackgroundTask> task) {
  if (task) FRunningTests.push_back(TRunningTask{name, std::move(task)});
}

void TMonitor::RemoveFromRunningTests(const TBackgroundTask* task) {
  Trace("Check Thread");
  // The list's order means nothing, so the last entry fills the gap: thousands of tests
  // in flight must not cost a shift of the list per completion.
  const auto it = std::find_if(FRunningTests.begin(), FRunningTests.end(),
                               [task](const TRunningTask& t) { return t.Task.get() == task; });
  if (it != FRunningTests.end()) {
    if (it != FRunningTests.end() - 1) *it = std::move(FRunningTests.back());
    FRunningTests.pop_back();
  }
  Trace("End Check Thread");
}

void TMonitor::RefreshHostRow(int index, const std::string& tracePrefix) {
  Trace(tracePrefix + " - Host Start " + std::to_string(index));
  emit HostChanged(index);
  Trace(tracePrefix + " - Host End " + std::to_string(index));
}

void TMonitor::PingCallback(TPingThread& thread, const std::string& address, const std::string& responder,
                            std::int32_t responseTime, std::int32_t tag, const std::string& errorText, std::int32_t,
                            bool success, const std::string& resolvedAddress) {
  // The texts may live in the worker, which must outlast this handler.
  const std::shared_ptr<TPingThread> keep = thread.weak_from_this().lock();
  try {
    RemoveFromRunningTests(&thread);
    Trace("Ping callback " + address);
    const int index = TakeFinishedTest(*this, thread, tag);
    if (index >= 0) {
      const std::string echoDetail =
          !responder.empty() && responder != resolvedAddress ? "[" + responder + "]" : std::string();
      UpdateHostStatus(index, success, false, responseTime, success ? resolvedAddress : std::string(), errorText,
                       echoDetail);
    }
  } catch (...) {
    ReportCurrentException("PingCallback");
  }
  ReleaseRetired(*this, tag);
}

void TMonitor::TCPCallback(TTCPThread& thread, const std::string& hostAddress, const std::string& resolvedAddress,
                           std::int32_t, bool connected, const std::string& resultText, std::int64_t hostReference,
                           std::int32_t elapsed) {
  const std::shared_ptr<TTCPThread> keep = thread.weak_from_this().lock();
  try {
    RemoveFromRunningTests(&thread);
    const std::string text =
        resultText == ErrorText(10060) ? std::string("Connection attempt timed out (0000274C)") : resultText;
    Trace("TCP Callback " + hostAddress + " " + (connected ? "ALIVE" : "no resp") + " " + text);
    const int index = TakeFinishedTest(*this, thread, hostReference);
    if (index >= 0) UpdateHostStatus(index, connected, false, elapsed, resolvedAddress, text, std::string());
  } catch (...) {
    ReportCurrentException("TCPCallback");
  }
  ReleaseRetired(*this, hostReference);
}

void TMonitor::ProbeCallback(TTCPThread& thread, const std::string&, const std::string&, std::int32_t port,
                             bool connected, const std::string&, std::int64_t hostReference, std::int32_t) {
  const std::shared_ptr<TTCPThread> keep = thread.weak_from_this().lock();
  try {
    const THost* probed = FHosts->Items(FindHost(*FHosts, hostReference));
    if (probed && (port == SharePort || port == RDPPort)) {
      // Records that share the address share what it offers.
      const std::string address = probed->Address;
      const std::uint8_t capability = connected ? 1 : 2;
      std::unique_lock<std::shared_mutex> guard(FStateLock);
      for (const auto& record : FHosts->Records())
        if (SameText(record->Address, address))
          (port == SharePort ? record->ShareCapability : record->RDPCapability) = capability;
    }
  } catch (...) {
    ReportCurrentException("ProbeCallback");
  }
  FProbesInFlight = std::max(0, FProbesInFlight - 1);
  RemoveFromRunningTests(&thread);
}
