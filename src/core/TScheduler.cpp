#include "core/TScheduler.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <utility>

#include "common/Clock.h"
#include "common/ErrorText.h"
#include "platform/TSmbClient.h"
#include "core/RunState.h"
#include "core/TEventLogKeeper.h"
#include "core/THostChanges.h"
#include "core/THostList.h"
#include "core/TRunningTests.h"
#include "core/TSettings.h"
#include "core/TStatusEvaluation.h"
#include "common/FileUtils.h"
#include "platform/TServiceControl.h"
#include "hosttests/TTCPThread.h"
#include "hosttests/TTestKinds.h"
#include "hosttests/TTestContext.h"

namespace {

constexpr long long MsPerMinute = 60000;
constexpr long long ProbeEveryMs = static_cast<long long>(CapabilityProbeInterval * MSecsPerDay + 0.5);
constexpr long long AutoTraceEveryMs = static_cast<long long>(AutoTraceInterval * MSecsPerDay + 0.5);
constexpr int MaxProbesInFlight = 4;
constexpr int ProbeAttempts = 3;
constexpr std::int32_t SharePort = 139;
constexpr std::int32_t RDPPort = 3389;
const char* const PeriodicTraceName = "Automatic Trace Route";
constexpr int PrelimBlock = 256;

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

// Index in the host list of a host reference handed back by a worker; -1 when none.
int FindHost(const THostList& hosts, std::int64_t hostID) {
  return hostID >= 0 && hostID <= MaxHostID ? hosts.FindByID(static_cast<std::int32_t>(hostID)) : -1;
}

using TWriteLock = std::unique_lock<std::shared_mutex>;

}  // namespace

TScheduler::TScheduler(TMonitorParts parts, TTestContext& tests, TStatusEvaluation& evaluation,
                       TTraceStarter startPeriodicTrace, QObject* parent)
    : QObject(parent), F(std::move(parts)), FTests(tests), FEvaluation(evaluation),
      FStartPeriodicTrace(std::move(startPeriodicTrace)) {
  Timer1.setInterval(IntervalMs);
  connect(&Timer1, &QTimer::timeout, this, &TScheduler::Timer1Timer);
}

void TScheduler::SetDataFolder(const std::string& folder) {
  FDataFolder = folder;
  FTestSettings.PagesFolder = folder.empty() ? std::string() : IncludeTrailingPathDelimiter(folder) + "HTTPPages";
}

void TScheduler::Report(const char* where) { ReportFault(F.Faults, where, CurrentExceptionText()); }

std::shared_ptr<TBackgroundTask> TScheduler::StartHostTest(const THost& host) {
  const TTestKindEntry* kind = KindOf(host);
  if (!kind || !kind->Start) return nullptr;
  const TSettings& s = F.Settings;
  FTestSettings.NumPings = s.NumPings;
  FTestSettings.PingTimeout = s.PingTimeout;
  FTestSettings.TCPConnectTimeout = s.TCPConnectTimeout;
  FTestSettings.CertExpiryDays = s.CertExpiryDays;
  FTestSettings.HTTPTimeoutMs = s.HTTPTimeoutMs();
  FTestSettings.SMBPort = s.SMBPort;
  F.Trace("Create " + kind->Name + "Thread " + host.DisplayName);
  return kind->Start(FTests, TTestStart{host.ID, host.DisplayName, host.Address, host.TestParams(), FTestSettings,
                                               host.WinUserName, host.WinPassword},
                     std::bind_front(&TScheduler::TestDone, this));
}

// Whether the listed host's running test is the finished one, with that test cleared;
// false when the host is gone or the test was abandoned (a newer one may be running),
// and false too for a test told to stop (the host list being replaced): cut short, its
// failure says nothing about the host.
bool TScheduler::DroppedGlitch(const TTestResult& result) const {
  if (!result.DropWhenOnline) return false;
  const THost* host = F.Hosts.Items(FindHost(F.Hosts, result.HostID));
  return host && host->Status == StatusOnline;
}

bool TScheduler::TakeFinishedTest(const TBackgroundTask& thread, std::int64_t hostID) {
  THost* host = F.Hosts.Items(FindHost(F.Hosts, hostID));
  if (!host || host->RunningTest.get() != &thread) return false;
  const bool cutShort = thread.Terminated();
  {
    TWriteLock guard(F.StateLock);
    // The record's reference may be the worker's last: it goes once this handler is done.
    host->RunningTest.reset();
  }
  return !cutShort;
}

// An overdue test or trace is abandoned rather than killed: the work ends on its own
// and gives its slot back then, and its late result finds another running test or none.
void TScheduler::Abandon(THost& host, std::shared_ptr<TBackgroundTask> THost::*slot, const char* message) {
  if (!(host.*slot)) return;
  F.Events.LogEvent(&host, message, TLogCategory::Error);
  std::shared_ptr<TBackgroundTask> task;
  {
    TWriteLock guard(F.StateLock);
    task = std::exchange(host.*slot, nullptr);
  }
  task->Terminate();
  F.Running.Remove(task.get());
}

void TScheduler::ReleaseRetired(std::int64_t hostID) {
  try {
    if (hostID >= 0 && hostID <= MaxHostID) F.Hosts.ReleaseRetired(static_cast<std::int32_t>(hostID));
  } catch (...) {
    Report("ReleaseRetired");
  }
}

void TScheduler::Timer1Timer() {
  // Started again only when it ran: a pass called directly does not start the timer.
  const bool timerRan = Timer1.isActive();
  Timer1.stop();
  const TDateTime now = F.Clock.Now();
  const TSettings& settings = F.Settings;
  TLongestStep steps(F.Clock);
  try {
    FTests.MaxPingThreads.store(settings.MaxPingThreads);
    FTests.MaxTCPThreads.store(settings.MaxTCPThreads);
    FTests.MaxServiceThreads.store(settings.MaxServiceThreads);
    FTests.MaxShareThreads.store(settings.MaxShareThreads);
    TSmbClient::SetDefaultPort(settings.SMBPort);
    if (TServiceControl* services = FTests.Services.load()) services->SetSMBPort(settings.SMBPort);
    // Counted by what really runs, so a trace that ended without a word is not counted
    // for ever.
    if (FPeriodicTraces > 0) FPeriodicTraces = F.Running.PruneEnded(PeriodicTraceName);
    const bool running = F.RunState.load() == rsRunning;
    const bool testing = FTestingOn && running;
    // A list of up to FMinHostsPerPass hosts is walked whole every pass; a longer one in
    // a round of passes that visits each host once.
    const int count = F.Hosts.Count();
    const int perPass = count <= FMinHostsPerPass ? count
                                                  : std::max(FMinHostsPerPass, (count + PassesPerRound - 1) / PassesPerRound);
    if (FCursor >= count) FCursor = 0;
    if (FCursor == 0) {
      FRound = TRound();
      FRound.DayChanged = FRoundStart > 0 && std::floor(now) > std::floor(FRoundStart);
      if (FRound.DayChanged) FRound.PreviousDay = FormatDateTime("mmm d, ", FRoundStart);
      FRoundStart = now;
    }
    const bool dayChanged = FRound.DayChanged;
    const std::string& previousDay = FRound.PreviousDay;
    int& online = FRound.Online;
    int& warning = FRound.Warning;
    int& offline = FRound.Offline;
    int& disabled = FRound.Disabled;
    int starts = 0;
    FCatchingUp = false;
    steps.Mark("Start Host Proc");

    const int end = std::min(count, FCursor + perPass);
    for (int index = FCursor; index < end; ++index) {
      try {
        THost& host = *F.Hosts.Items(index);
        // Group rows are headings: their status field holds the collapsed flag, and
        // nothing is tested, counted or probed for them.
        if (host.IsGroup()) continue;

        if (host.Status == StatusOnline) ++online;
        else if (host.Status == StatusWarning) ++warning;
        else if (host.Status == StatusOffline) ++offline;
        if (host.DisabledUntil > 1.0 && host.DisabledUntil < now) {
          {
            TWriteLock guard(F.StateLock);
            host.DisabledUntil = 0;
          }
          // Testing it again may change whether its parents count.
          FEvaluation.CheckDependants(host);
        }
        const bool isDisabled = host.IsDisabled(now);
        if (isDisabled) ++disabled;
        // The clock is read for the cheap steps once per block of hosts: with 100,000 of
        // them, a read per host is most of a pass.
        if (index % PrelimBlock == 0) steps.Mark("Prelim ", &host);

        if (testing && !isDisabled && !host.RunningTest &&
            (host.LastCheck == 0 ||
             SpanMs(std::max(host.LastFailure, host.LastSuccess), now) >=
                 EffectiveIntervalMs(host, settings.FailFreqAdj)) &&
            (host.EmailWindow || host.InDailyWindow(now)) && F.Hosts.ParentsUp(host, now)) {
          if (starts < FMaxStartsPerPass) {
            TestHost(index);
            if (host.RunningTest) ++starts;
            steps.Mark("TestHost ", &host);
          } else {
            FCatchingUp = true;
          }
        }

        if ((host.RunningTest || host.RunningTrace) && SpanMs(host.LastCheck, now) > ThreadTimeoutMs) {
          Abandon(host, &THost::RunningTest, "Thread Forcibly Terminated");
          Abandon(host, &THost::RunningTrace, "Trace Thread Forcibly Terminated");
          steps.Mark("ForceStop ", &host);
        }

        // A last error text that still begins with a bare time gets its day once the
        // day is over.
        if (dayChanged && !host.LastErrorText.empty()) {
          const auto colon = host.LastErrorText.find(':');
          if (colon != std::string::npos && colon < 5) {
            TWriteLock guard(F.StateLock);
            host.LastErrorText.insert(0, previousDay);
          }
          steps.Mark("LastErr Update");
        }

        if (settings.TestHostServices && running && FProbesInFlight <= MaxProbesInFlight &&
            SpanMs(host.LastProbe, now) > ProbeEveryMs) {
          {
            TWriteLock guard(F.StateLock);
            host.LastProbe = now;
          }
          for (const auto& [name, port] : {std::pair{"Test WinShare", SharePort}, std::pair{"Test WinRDP", RDPPort}}) {
            F.Running.Add(name, TTCPThread::Create(FTests, name, host.Address, true, host.ID,
                                                   std::bind_front(&TScheduler::ProbeCallback, this), ProbeAttempts,
                                                   port, settings.TCPConnectTimeout));
            ++FProbesInFlight;
          }
          steps.Mark("Host Svc");
        }

        if (FPeriodicTraces < MaxPeriodicTraces && running && !host.CurrentIP.empty() && !host.LocalSubnet &&
            SpanMs(host.LastAutoTrace, now) > AutoTraceEveryMs) {
          {
            TWriteLock guard(F.StateLock);
            host.LastAutoTrace = now;
          }
          if (std::shared_ptr<TBackgroundTask> trace = FStartPeriodicTrace ? FStartPeriodicTrace(host) : nullptr) {
            F.Running.Add(PeriodicTraceName, std::move(trace));
            ++FPeriodicTraces;
          }
          steps.Mark("Auto Trace");
        }
      } catch (...) {
        // One record's trouble does not hold up the others.
        Report("Timer1");
      }
    }

    // The tray tells whole rounds only.
    FCursor = end < count ? end : 0;
    if (FCursor == 0) {
      std::string hint = "Corvale - Okay: " + std::to_string(online) + "\rWarning: " + std::to_string(warning) +
                         " Error: " + std::to_string(offline);
      if (disabled > 0) hint += "\rDisabled: " + std::to_string(disabled);
      if (hint != FTrayHint) {
        FTrayHint = std::move(hint);
        emit TrayHintChanged();
      }
    }
  } catch (...) {
    Report("Timer1");
  }
  F.Trace("Timer1 Longest Op: " + steps.Text());
  if (timerRan && FTestingOn && FTimerAllowed && F.RunState.load() == rsRunning)
    Timer1.start(FCatchingUp ? CatchUpIntervalMs : IntervalMs);
}

void TScheduler::SetTestingOn(bool on) {
  const bool changed = FTestingOn != on;
  FTestingOn = on;
  FEvaluation.SetTestingOn(on);
  if (on && FTimerAllowed && F.RunState.load() == rsRunning) Timer1.start(IntervalMs);
  if (!on) Timer1.stop();
  if (changed) emit TestingChanged(on);
}

void TScheduler::AllowTimer(bool allowed) {
  FTimerAllowed = allowed;
  if (allowed && FTestingOn)
    Timer1.start(IntervalMs);
  else
    Timer1.stop();
}

void TScheduler::TestHost(int index) {
  try {
    THost* host = F.Hosts.Items(index);
    if (!host || host->RunningTest || host->IsGroup()) return;
    std::shared_ptr<TBackgroundTask> task = StartHostTest(*host);
    if (!task) return;
    {
      TWriteLock guard(F.StateLock);
      host->RunningTest = task;
      host->PreviousCheck = host->LastCheck;
      host->LastCheck = F.Clock.Now();
    }
    F.Running.Add(task->Name(), task);
    F.Changes.Changed(host->ID, "TestHost");
  } catch (...) {
    Report("TestHost");
  }
}

void TScheduler::TestHostNow(int index, const std::string& by) {
  const THost* host = F.Hosts.Items(index);
  if (!host) return;
  F.Events.LogEvent(host, "Manual test" + by, TLogCategory::Test);
  TestHost(index);
}

void TScheduler::RefreshAllHosts(const std::string& by) {
  F.Events.LogEvent(nullptr, by.empty() ? std::string("Refresh All Hosts") : "Refresh all hosts" + by, TLogCategory::Test);
  const TDateTime now = F.Clock.Now();
  for (int index = 0; index < F.Hosts.Count(); ++index)
    if (!F.Hosts.Items(index)->IsDisabled(now)) TestHost(index);
}

void TScheduler::TestDone(TBackgroundTask& worker, const TTestResult& result, const std::string& trace) {
  try {
    F.Running.Remove(&worker);
    F.Trace(trace);
    if (TakeFinishedTest(worker, result.HostID) && !DroppedGlitch(result)) {
      if (result.NoResult)
        NoResultNote(result);
      else
        FEvaluation.UpdateHostStatus(result);
    }
  } catch (...) {
    Report("TestDone");
  }
  ReleaseRetired(result.HostID);
}

// A plug-in test with nothing to say: the log and the host's note, not its status.
void TScheduler::NoResultNote(const TTestResult& result) {
  const int index = FindHost(F.Hosts, result.HostID);
  THost* host = F.Hosts.Items(index);
  if (!host) return;
  const std::string text = result.ErrorText.empty() ? std::string("Plugin returned a \"no result\" response")
                                                      : result.ErrorText;
  F.Events.LogEvent(host, text, TLogCategory::Information);
  {
    TWriteLock guard(F.StateLock);
    host->LastErrorText = FormatDateTime("h:nna/p ", F.Clock.Now()) + text;
  }
  F.Trace("CustomCallback - Host Start " + std::to_string(index));
  F.Changes.Changed(host->ID, "NoResultNote");
  F.Trace("CustomCallback - Host End " + std::to_string(index));
}

void TScheduler::ProbeCallback(TTCPThread& thread, const std::string&, const std::string&, std::int32_t port,
                               bool connected, const std::string&, std::int64_t hostReference, std::int32_t) {
  try {
    const THost* probed = F.Hosts.Items(FindHost(F.Hosts, hostReference));
    if (probed && (port == SharePort || port == RDPPort)) {
      // Records that share the address share what it offers.
      const std::uint8_t capability = connected ? 1 : 2;
      const std::vector<std::int32_t> sharing = F.Hosts.WithAddress(probed->Address);
      TWriteLock guard(F.StateLock);
      for (const std::int32_t id : sharing)
        if (THost* record = F.Hosts.Items(F.Hosts.FindByID(id)))
          (port == SharePort ? record->ShareCapability : record->RDPCapability) = capability;
    }
  } catch (...) {
    Report("ProbeCallback");
  }
  FProbesInFlight = std::max(0, FProbesInFlight - 1);
  F.Running.Remove(&thread);
}
