#include "hosttests/TServiceKind.h"

#include "common/ErrorText.h"
#include "common/Fields.h"
#include "hosttests/TServiceThread.h"
#include "hosttests/TTestKinds.h"
#include "platform/TServiceControl.h"

namespace {

// The service field as a test reads it: name "|" display name, either may be quoted.
std::string ServicePart(const TTestParams& p, int part) { return GetField(p.Service, '|', part, '"'); }

}  // namespace

TTestResult ServiceTestResult(std::int32_t hostID, bool running, std::int32_t errorCode, std::int32_t elapsed,
                              const std::string& resolvedAddress) {
  TTestResult result;
  result.HostID = hostID;
  result.Success = running;
  result.ResponseTime = elapsed;
  result.NewIP = resolvedAddress;
  result.ErrorText = errorCode != 0 ? ErrorText(errorCode) : std::string();
  result.DropWhenOnline = errorCode == svcerr::ERROR_INVALID_NAME;
  return result;
}

void RegisterServiceKind(TTestKinds& kinds) {
  TTestKindEntry service;
  service.Kind = TTestKind::Service;
  service.Name = "Service";
  service.Slots = TSlotKind::Service;
  service.LabelSuffix = [](const TTestParams& p) { return "/" + p.ServiceName() + ")"; };
  service.TestAddress = [](const std::string& address, const TTestParams& p) { return address + "/" + ServicePart(p, 1); };
  service.Data = [](const TTestParams& p) -> std::optional<std::string> { return ServicePart(p, 2); };
  service.OwnVariable = "%service%";
  service.OwnValue = [](const TTestParams& p) { return ServicePart(p, 2); };
  service.SummaryType = [](const TTestParams&) { return std::string("Service"); };
  service.SummaryInfo = [](const TTestParams& p) { return p.ServiceDisplayName(); };
  service.Start = [](TTestContext& context, const TTestStart& start, TTestDone done) -> std::shared_ptr<TBackgroundTask> {
    return TServiceThread::Create(
        context, "Service " + start.DisplayName, start.Address, start.HostID,
        [done = std::move(done)](TServiceThread& thread, const std::string& hostAddress,
                                 const std::string& resolvedAddress, bool running, std::int32_t errorCode,
                                 std::int32_t hostID, std::int32_t elapsed, const std::string&) {
          if (done) done(thread, ServiceTestResult(hostID, running, errorCode, elapsed, resolvedAddress),
                         "Service callback " + hostAddress);
        },
        start.Params.ServiceName(), start.Params.WinPassword, start.Params.WinUserName);
  };
  kinds.AddBuiltIn(std::move(service));
}
