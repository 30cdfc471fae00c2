#include "hosttests/TPingKind.h"

#include "hosttests/TPingThread.h"
#include "hosttests/TTestKinds.h"

TTestResult PingTestResult(std::int32_t tag, bool success, std::int32_t responseTime, const std::string& errorText,
                           const std::string& responder, const std::string& resolvedAddress) {
  TTestResult result;
  result.HostID = tag;
  result.Success = success;
  result.ResponseTime = responseTime;
  if (success) result.NewIP = resolvedAddress;
  result.ErrorText = errorText;
  if (!responder.empty() && responder != resolvedAddress) result.EchoDetail = "[" + responder + "]";
  return result;
}

void RegisterPingKind(TTestKinds& kinds) {
  TTestKindEntry e;
  e.Kind = TTestKind::Ping;
  e.Name = "Ping";
  e.Slots = TSlotKind::Ping;
  e.LabelSuffix = [](const TTestParams&) { return std::string(")"); };
  e.TestAddress = [](const std::string& address, const TTestParams&) { return address; };
  e.Data = [](const TTestParams&) -> std::optional<std::string> { return std::string(); };
  e.SummaryType = [](const TTestParams&) { return std::string("Ping"); };
  e.SummaryInfo = [](const TTestParams&) { return std::string("ICMP Ping"); };
  e.Start = [](TTestContext& context, const TTestStart& start, TTestDone done) -> std::shared_ptr<TBackgroundTask> {
    // The texts live in the worker, which may go with the record's reference to it.
    return TPingThread::Create(
        context, "Ping " + start.DisplayName, start.Address, false, start.HostID, 255, start.Settings.PingTimeout,
        [done = std::move(done)](TPingThread& thread, const std::string& address, const std::string& responder,
                                 std::int32_t responseTime, std::int32_t tag, const std::string& errorText, std::int32_t,
                                 bool success, const std::string& resolvedAddress) {
          if (done)
            done(thread, PingTestResult(tag, success, responseTime, errorText, responder, resolvedAddress),
                 "Ping callback " + address);
        },
        start.Settings.NumPings);
  };
  kinds.AddBuiltIn(std::move(e));
}
