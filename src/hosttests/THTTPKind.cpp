#include "hosttests/THTTPKind.h"

#include "hosttests/THTTPReqLine.h"
#include "hosttests/THTTPThread.h"
#include "hosttests/TTestKinds.h"

namespace {

constexpr std::int64_t MaxHostReference = 8388607;

// scheme://server/path gives server/path; a URL with fewer than two "/" stays whole.
std::string AfterSecondSlash(const std::string& url) {
  const auto first = url.find('/');
  if (first == std::string::npos) return url;
  const auto second = url.find('/', first + 1);
  return second == std::string::npos ? url : url.substr(second + 1);
}

}  // namespace

std::string HTTPLabelSuffix(const std::string& url) {
  if (url.empty()) return ")";
  return "@" + AfterSecondSlash(url);
}

void RegisterHTTPKind(TTestKinds& kinds) {
  TTestKindEntry e;
  e.Kind = TTestKind::HTTP;
  e.Name = "HTTP";
  // A retrieval holds a TCP connection: it counts among the TCP tests.
  e.Slots = TSlotKind::TCP;
  e.LabelSuffix = [](const TTestParams& p) { return HTTPLabelSuffix(p.HTTPTest.URL); };
  e.TestAddress = [](const std::string&, const TTestParams& p) { return p.HTTPTest.URL; };
  e.Data = [](const TTestParams& p) -> std::optional<std::string> { return p.HTTPTest.URL; };
  e.OwnVariable = "%url%";
  e.OwnValue = [](const TTestParams& p) { return p.HTTPTest.URL; };
  e.SummaryType = [](const TTestParams&) { return std::string("HTTP"); };
  e.SummaryInfo = [](const TTestParams& p) { return p.HTTPTest.URL; };
  e.ExtraLines = 1;
  e.ExtraFields = HTTPLineFields;
  e.ReadExtra = [](const std::string& line, TTestParams& p) { p.HTTPTest = ReadHTTPRequestLine(line); };
  e.WriteExtra = [](const TTestParams& p) { return HTTPRequestLine(p.HTTPTest); };
  e.Start = [](TTestContext& context, const TTestStart& start, TTestDone done) -> std::shared_ptr<TBackgroundTask> {
    THTTPOptions options;
    options.PagesFolder = start.Settings.PagesFolder;
    options.CertExpiryDays = start.Settings.CertExpiryDays;
    options.TimeoutMs = start.Settings.HTTPTimeoutMs;
    return THTTPThread::Create(
        context, "HTTP " + start.DisplayName, start.Params.HTTPTest, HTTPKindTest, start.HostID, start.HostID,
        [done = std::move(done)](THTTPThread& thread, const THTTPReq& request, const std::string& resolvedAddress,
                                 std::int32_t, std::int64_t data, std::int32_t, float change, bool success,
                                 const std::string& resultText, std::int32_t elapsed) {
          if (!done) return;
          TTestResult result;
          result.HostID = data >= 0 && data <= MaxHostReference ? static_cast<std::int32_t>(data) : -1;
          result.Success = success;
          result.ResponseTime = elapsed;
          result.NewIP = resolvedAddress;
          result.ErrorText = resultText;
          result.PageTest = true;
          result.PageChange = change;
          done(thread, result,
               "HTTP Callback " + request.URL + " " + (success ? "OK" : "failed") + " " + resultText);
        },
        std::move(options));
  };
  kinds.AddBuiltIn(std::move(e));
}
