#include "hosttests/TShareKind.h"

#include "hosttests/TShareThread.h"
#include "hosttests/TTestKinds.h"

TTestResult ShareTestResult(std::int32_t hostID, bool success, std::int32_t elapsed, const std::string& resolvedAddress,
                            const std::string& resultText) {
  TTestResult result;
  result.HostID = hostID;
  result.Success = success;
  result.ResponseTime = elapsed;
  result.NewIP = resolvedAddress;
  result.ErrorText = resultText;
  return result;
}

std::string ShareTestTrace(const std::string& hostAddress, const std::string& sharePath, const TTestResult& result) {
  return "ShareThread Callback " + hostAddress + "\\" + sharePath + " " + (result.Success ? "ALIVE" : "no resp") +
         " " + result.ErrorText;
}

void RegisterShareKind(TTestKinds& kinds) {
  TTestKindEntry e;
  e.Kind = TTestKind::Share;
  e.Name = "Share";
  e.Slots = TSlotKind::Share;
  e.LabelSuffix = [](const TTestParams& p) { return "\\" + p.SharePath + ")"; };
  e.TestAddress = [](const std::string& address, const TTestParams& p) { return address + "\\" + p.SharePath; };
  e.Data = [](const TTestParams& p) -> std::optional<std::string> { return p.SharePath; };
  e.OwnVariable = "%share%";
  e.OwnValue = [](const TTestParams& p) { return p.SharePath; };
  e.SummaryType = [](const TTestParams&) { return std::string("Share"); };
  e.SummaryInfo = [](const TTestParams& p) { return p.SharePath; };
  e.Start = [](TTestContext& context, const TTestStart& start, TTestDone done) -> std::shared_ptr<TBackgroundTask> {
    return TShareThread::Create(
        context, "Share " + start.DisplayName, start.Address,
        [done = std::move(done)](TShareThread& thread, const std::string& hostAddress, std::int32_t elapsed,
                                 const std::string& resultText, bool success, std::int32_t hostID,
                                 const std::string& sharePath, const std::string& resolvedAddress) {
          if (!done) return;
          const TTestResult result = ShareTestResult(hostID, success, elapsed, resolvedAddress, resultText);
          done(thread, result, ShareTestTrace(hostAddress, sharePath, result));
        },
        start.HostID, start.WinPassword, start.WinUserName, start.Params.SharePath,
        start.Settings.SMBPort);
  };
  kinds.AddBuiltIn(std::move(e));
}
