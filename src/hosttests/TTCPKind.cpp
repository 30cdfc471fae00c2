#include "hosttests/TTCPKind.h"

#include "common/ErrorText.h"
#include "hosttests/TTCPThread.h"
#include "hosttests/TTestKinds.h"

namespace {

constexpr std::int64_t MaxHostReference = 8388607;

}  // namespace

TTestResult TCPTestResult(std::int64_t hostReference, bool connected, std::int32_t elapsed,
                          const std::string& resolvedAddress, const std::string& resultText) {
  TTestResult result;
  result.HostID = hostReference >= 0 && hostReference <= MaxHostReference ? static_cast<std::int32_t>(hostReference) : -1;
  result.Success = connected;
  result.ResponseTime = elapsed;
  result.NewIP = resolvedAddress;
  result.ErrorText = resultText == ErrorText(10060) ? std::string("Connection attempt timed out (0000274C)") : resultText;
  return result;
}

std::string TCPTestTrace(const std::string& hostAddress, const TTestResult& result) {
  return "TCP Callback " + hostAddress + " " + (result.Success ? "ALIVE" : "no resp") + " " + result.ErrorText;
}

void RegisterTCPKind(TTestKinds& kinds) {
  TTestKindEntry e;
  e.Kind = TTestKind::TCP;
  e.Name = "TCP";
  e.Slots = TSlotKind::TCP;
  e.LabelSuffix = [](const TTestParams& p) { return ":" + std::to_string(p.Port) + ")"; };
  e.TestAddress = [](const std::string& address, const TTestParams& p) { return address + ":" + std::to_string(p.Port); };
  e.Data = [](const TTestParams& p) -> std::optional<std::string> { return std::to_string(p.Port); };
  e.OwnVariable = "%port%";
  e.OwnValue = [](const TTestParams& p) { return std::to_string(p.Port); };
  e.SummaryType = [](const TTestParams&) { return std::string("TCP Port"); };
  e.SummaryInfo = [](const TTestParams& p) { return "Port " + std::to_string(p.Port); };
  e.Start = [](TTestContext& context, const TTestStart& start, TTestDone done) -> std::shared_ptr<TBackgroundTask> {
    return TTCPThread::Create(
        context, "TCP " + start.DisplayName, start.Address, false, start.HostID,
        [done = std::move(done)](TTCPThread& thread, const std::string& hostAddress, const std::string& resolvedAddress,
                                 std::int32_t, bool connected, const std::string& resultText,
                                 std::int64_t hostReference, std::int32_t elapsed) {
          if (!done) return;
          const TTestResult result = TCPTestResult(hostReference, connected, elapsed, resolvedAddress, resultText);
          done(thread, result, TCPTestTrace(hostAddress, result));
        },
        start.Settings.NumPings, start.Params.Port, start.Settings.TCPConnectTimeout);
  };
  kinds.AddBuiltIn(std::move(e));
}
