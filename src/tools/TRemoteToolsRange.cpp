// The range ping, the NetBIOS status and the name lookups of the "Remote Tools" page.
#include "tools/TRemoteTools.h"

#include <atomic>

#include "common/ProcessLaunch.h"
#include "core/HostAddress.h"
#include "core/TAddressLookup.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "core/TStatusEvaluation.h"
#include "hosttests/THostNameThread.h"
#include "hosttests/TPingThread.h"
#include "hosttests/TTestContext.h"
#include "platform/NameLookup.h"
#include "platform/NetInterfaces.h"
#include "tools/NetBiosStatus.h"
#include "tools/RangePing.h"

namespace {
constexpr int RangeTimeoutMs = 4000;
constexpr std::size_t RangeStartsPerTurn = 128;
}  // namespace

// ---- range ping

bool TRemoteTools::StartRangePing(const std::string& from, const std::string& to) {
  const std::uint32_t count = RangeCount(from, to);
  if (count > MaxRangeAddresses) {
    emit Message(true, QString::fromLatin1(("The network range " + from + "-" + to + " holds more than " +
                                            std::to_string(MaxRangeAddresses) + " addresses; choose a smaller one.")
                                               .c_str()));
    return false;
  }
  tmrPathPings.stop();
  FTracing = false;
  ++FTraceRun;
  FShowNetBIOS = false;
  FCaption = "Ping Range " + from + "-" + to;
  StopRange();
  const std::uint64_t run = ++FRangeRun;
  FFirstHeading = "Host";
  FRows.clear();
  FLocalAddresses.clear();
  FLocalMasks.clear();
  LocalInterfaces(FLocalAddresses, FLocalMasks);
  for (const std::string& address : RangeAddresses(from, to)) {
    if (IsBroadcastAddress(address, FLocalAddresses, FLocalMasks)) continue;
    FRangeQueue.push_back(address);
    TRow row;
    row.Cells[colStep] = std::to_string(FRangeQueue.size());
    row.Cells[colAddress] = address;
    FRows.push_back(std::move(row));
  }
  Changed();
  StartRangeBatch(run);
  return true;
}

void TRemoteTools::StartRangeBatch(std::uint64_t run) {
  if (run != FRangeRun) return;
  // A large range starts a slice per turn of the event loop, so nothing waits for all.
  for (std::size_t n = 0; n < RangeStartsPerTurn && FRangeNext < FRangeQueue.size(); ++n, ++FRangeNext) {
    const std::string& address = FRangeQueue[FRangeNext];
    FRange.push_back({address, nullptr});
    FRange.back().Thread = StartRangeEcho(run, static_cast<int>(FRangeNext + 1), address, "Ping IP Range " + address);
  }
  if (FRangeNext < FRangeQueue.size()) QTimer::singleShot(0, this, [this, run] { StartRangeBatch(run); });
}

std::shared_ptr<TPingThread> TRemoteTools::StartRangeEcho(std::uint64_t run, int tag, const std::string& address,
                                                          const std::string& name) {
  std::weak_ptr<int> alive = FAlive;
  auto ping = TPingThread::Create(
      FMonitor.Tests(), name, address, OnLocalSubnet(address, FLocalAddresses, FLocalMasks), tag, 255, RangeTimeoutMs,
      [this, alive, run](TPingThread& thread, const std::string&, const std::string&, std::int32_t responseTime,
                         std::int32_t replyTag, const std::string& errorText, std::int32_t, bool success,
                         const std::string& resolved) {
        if (!alive.expired()) RangeReply(thread, run, replyTag, success, responseTime, resolved, errorText);
      },
      2);
  FMonitor.Running().Add(name, ping);
  return ping;
}

void TRemoteTools::RangeReply(TPingThread& thread, std::uint64_t run, int tag, bool success, int responseTime,
                              const std::string& resolved, const std::string& errorText) {
  FMonitor.Running().Remove(&thread);
  FMonitor.Trace("Ping callback 4");
  if (run != FRangeRun) return;
  if (tag >= 1 && tag <= static_cast<int>(FRows.size())) {
    TRow& row = FRows[static_cast<std::size_t>(tag - 1)];
    if (thread.Address() != row.Cells[colAddress]) {
      row.Cells[colHost] = "(Wrong Host Responded: " + resolved + ", " + errorText + ")";
    } else if (success) {
      row.Cells[colAddress] = resolved;
      row.Cells[colHost] = "(Waiting for name)";
      row.Cells[colSuccess] = "1";
      row.Cells[colResponse] = std::to_string(responseTime) + " ms";
      LookUpName(resolved, "Hostname for TraceRoute " + resolved);
    } else {
      row.Cells[colHost] = "---";
      row.Cells[colSuccess] = "0";
      row.Cells[colResponse] = "---";
    }
    Changed();
  }
  bool running = FRangeNext < FRangeQueue.size();
  for (TRangeEntry& entry : FRange) {
    if (entry.Thread.get() == &thread) entry.Thread.reset();
    running = running || entry.Thread;
  }
  if (!running) {
    FRange.clear();
    FRangeQueue.clear();
    FRangeNext = 0;
    SetToolsEnabled(true);
  }
}

void TRemoteTools::StopRange() {
  for (const TRangeEntry& entry : FRange)
    if (entry.Thread) entry.Thread->Terminate();
  FRange.clear();
  FRangeQueue.clear();
  FRangeNext = 0;
}

// ---- NetBIOS status

void TRemoteTools::StartNetBIOS(const std::string& address) {
  if (!FToolsEnabled || address.empty()) return;
  FShowNetBIOS = true;
  FNetBIOSLines.clear();
  SetToolsEnabled(false);
  Changed();
  std::weak_ptr<int> alive = FAlive;
  TTestContext& tests = FMonitor.Tests();
  tests.RunInPool([this, alive, address, &tests] {
    std::string dotted;
    Resolve(address, dotted);
    std::vector<std::string> lines;
    if (!dotted.empty()) lines = NetBiosStatusLines(dotted);
    tests.PostCompletion(tests.Completions.Name, [this, alive, address, dotted, lines = std::move(lines)] {
      if (alive.expired()) return;
      FCaption = "NetBIOS Status for " + address + " [" + dotted + "]";
      FNetBIOSLines = lines;
      SetToolsEnabled(true);
      Changed();
    });
  });
}

void TRemoteTools::ClearNetBIOS() {
  FNetBIOSLines.clear();
  Changed();
}

// ---- name lookups

void TRemoteTools::LookUpName(const std::string& address, const std::string& listName) {
  if (FLookups.count(address)) return;
  std::weak_ptr<int> alive = FAlive;
  auto lookup = THostNameThread::Create(
      FMonitor.Tests(), address,
      [this, alive](THostNameThread& thread, const std::string& name, const std::string& reverse,
                    const std::string& dotted) {
        if (!alive.expired()) NameLookedUp(thread, name, reverse, dotted);
      });
  FLookups[address] = lookup;
  FMonitor.Running().Add(listName, std::move(lookup));
}

void TRemoteTools::NameLookedUp(THostNameThread& thread, const std::string& name, const std::string& reverse,
                                const std::string& dotted) {
  FMonitor.Running().Remove(&thread);
  FLookups.erase(name);
  FMonitor.Trace("Hostname callback " + name);
  for (TRow& row : FRows)
    if (row.Cells[colAddress] == dotted && !dotted.empty()) row.Cells[colHost] = reverse.empty() ? "(Not resolvable)" : reverse;
  Changed();

  THostList& hosts = FMonitor.Hosts();
  for (int i = 0; i < hosts.Count(); ++i) {
    THost* host = hosts.Items(i);
    if (!host || host->Address != name) continue;
    FMonitor.Trace("Hostname callback - Host Start " + std::to_string(i));
    if (dotted.empty() || dotted == "0.0.0.0") {
      FMonitor.UpdateHost(i, [](THost& h) { h.CurrentIP = "-"; }, "Hostname callback");
    } else if (dotted != host->CurrentIP) {
      if (!host->LocalSubnet) {
        FMonitor.Evaluation().AddressLearned(*host, dotted, "", "Host name lookup");
      } else {
        // The neighbour table may take a second to answer: asked on the pool.
        const std::int32_t id = host->ID;
        const std::string keep = host->MACAddress;
        TTestContext& tests = FMonitor.Tests();
        std::weak_ptr<int> alive = FAlive;
        tests.RunInPool([this, alive, id, dotted, keep, &tests] {
          TAddressLookup question;
          question.Neighbour = dotted;
          question.Run();
          const std::string mac = question.Mac.empty() || question.Mac == "00:00:00:00:00:00" ? keep : question.Mac;
          tests.PostCompletion(tests.Completions.Name, [this, alive, id, dotted, mac] {
            if (alive.expired()) return;
            if (THost* h = FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(id)))
              FMonitor.Evaluation().AddressLearned(*h, dotted, mac, "Host name lookup");
          });
        });
      }
    }
    FMonitor.HostChanged(*host, "Hostname callback");
    FMonitor.Trace("Hostname callback - Host End " + std::to_string(i));
  }
}
