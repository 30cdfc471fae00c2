// The HTTP retrieval worker: its page measure, texts and page copies on their own, then
// whole retrievals from a real static web server on loopback.
#include <QObject>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/FileUtils.h"
#include "hosttests/THTTPThread.h"
#include "hosttests/TTestContext.h"
#include "hosttests/WorkerTestSupport.h"
#include "support/THttpTestServer.h"
#include "support/TStaticHttpServer.h"
#include "support/TTestCertificates.h"
#include "support/TestSupport.h"

namespace {

using workertest::PumpUntil;

TEST(HTTPThread, PageDifference) {
  const std::string thousandA(1000, 'a'), thousandB(1000, 'b');
  struct TCase {
    const char* Name;
    std::string Old, New;
    float Low, High;
  } cases[] = {
      {"both empty", "", "", 0, 0},
      {"identical", "<html>same</html>", "<html>same</html>", 0, 0},
      {"letter case only", "Hello World ABC", "hello world abc", 0, 0},
      // Only A to Z fold: Latin-1 capitals are other bytes.
      {"latin-1 case is a change", "\xC4rger", "\xE4rger", 0.15f, 0.25f},
      {"nothing in common", thousandA, thousandB, 0.998f, 1.0f},
      // "ld" becomes "le": one pair leaves, one comes, over 22 bytes.
      {"one byte of eleven", "hello world", "hello worle", 2.0f / 22 - 1e-6f, 2.0f / 22 + 1e-6f},
      {"one page empty", "", "abcd", 3.0f / 4 - 1e-6f, 3.0f / 4 + 1e-6f},
      {"single bytes have no pairs", "a", "b", 0, 0},
      // Bytes above 127 count in their own cells, not in those of negative indexes.
      {"high bytes", "\xFF\xFE\xFF", "\xFE\xFE\xFE", 4.0f / 6 - 1e-6f, 4.0f / 6 + 1e-6f},
      // Only the pairs around the moved byte count.
      {"a moved byte", "abXab", "ababX", 0.2f - 1e-6f, 0.2f + 1e-6f},
  };
  for (const TCase& c : cases) {
    const float d = THTTPThread::PageDifference(c.Old, c.New);
    EXPECT_GE(d, c.Low) << c.Name;
    EXPECT_LE(d, c.High) << c.Name;
    EXPECT_FLOAT_EQ(THTTPThread::PageDifference(c.New, c.Old), d) << c.Name << " (reversed)";
  }
  // A long page with a small edit gives a small fraction that still counts at 0%.
  std::string page;
  for (int i = 0; i < 20000; ++i) page += "line " + std::to_string(i) + "\r\n";
  std::string edited = page;
  edited.replace(5000, 4, "EDIT");
  const float small = THTTPThread::PageDifference(page, edited);
  EXPECT_GT(small, 0);
  EXPECT_LT(small * 100, 0.01f);
}

TEST(HTTPThread, ResultTexts) {
  struct TCase {
    int Code;
    const char* ClientText;
    const char* Expected;
  } cases[] = {
      {200, "OK", ""},
      {205, "", ""},
      {206, "Partial Content", "[206] Partial Content"},
      {404, "", "[404] "},
      {404, "Not Found", "[404] Not Found"},
      {-5, "short", "Connection closed during data transfer"},
      {0, "refused", "No connection could be made to the server"},
      {-1, "", "Connection closed during conversation"},
      {-2, "", "Other HTTP error, such as improperly formatted data"},
      {-2, "Header block larger than 65536 bytes",
       "Other HTTP error, such as improperly formatted data (Header block larger than 65536 bytes)"},
      {-3, "Timed out after 60000 ms", "Timed out after 60000 ms"},
      {-7, "Certificate verify failed: self-signed certificate", "Certificate verify failed: self-signed certificate"},
      {-7, "", "[-7] "},
      {-4, "Connection refused", "[-4] Connection refused"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(THTTPThread::ResultCodeText(c.Code, c.ClientText), c.Expected) << c.Code << " " << c.ClientText;
}

TEST(HTTPThread, CertificateExpiryText) {
  testsupport::TScopedZone zone("UTC");
  constexpr std::time_t Day = 86400;
  const std::time_t now = 1796738700;  // 8 Dec 2026 14:05 UTC
  struct TCase {
    std::time_t NotAfter;
    int Days;
    const char* Expected;
  } cases[] = {
      {now + 3 * Day + 3600, 14, "Certificate expires in 3 days (Dec 11, 2026 15:05)"},
      {now + Day, 14, "Certificate expires in 1 days (Dec 9, 2026 14:05)"},
      {now + 7200, 14, "Certificate expires in 0 days (Dec 8, 2026 16:05)"},
      {now + 14 * Day - 1, 14, "Certificate expires in 13 days (Dec 22, 2026 14:04)"},
      {now + 14 * Day, 14, ""},
      {now + 90 * Day, 14, ""},
      {now + 3 * Day, 0, ""},  // the check is off
      {0, 14, ""},             // no certificate (http)
  };
  for (const TCase& c : cases)
    EXPECT_EQ(THTTPThread::CertificateExpiryText(c.NotAfter, now, c.Days), c.Expected) << c.NotAfter - now;
}

TEST(HTTPThread, PageCopiesKeepTheBaseAndTheThreeLatestChanges) {
  testsupport::TTempDir dir;
  const std::string folder = dir.File("HTTPPages");
  EXPECT_EQ(THTTPThread::PageCopyName(folder, 0xABCD), folder + "/00ABCD.cvl");
  EXPECT_EQ(THTTPThread::PageCopyName(folder + "/", 0x7FFFFF, 2), folder + "/7FFFFF[2].cvl");
  const auto copy = [&](int n) {
    const std::string name = THTTPThread::PageCopyName(folder, 7, n);
    return FileExists(name) ? testsupport::ReadFileBytes(name) : std::string("<none>");
  };

  // The first page is the base, and nothing changed; the folder is made on the way.
  EXPECT_EQ(THTTPThread::UpdatePageCopies(folder, 7, "version one", true), 0);
  EXPECT_EQ(copy(0), "version one");
  EXPECT_EQ(copy(1), "<none>");
  // The same page again changes nothing.
  EXPECT_EQ(THTTPThread::UpdatePageCopies(folder, 7, "version one", true), 0);
  // Without a measure the base stays, however different the page.
  EXPECT_EQ(THTTPThread::UpdatePageCopies(folder, 7, "something else entirely", false), 0);
  EXPECT_EQ(copy(0), "version one");

  const std::vector<std::string> versions = {"version two", "version three", "version four", "version five"};
  for (const std::string& v : versions) EXPECT_GT(THTTPThread::UpdatePageCopies(folder, 7, v, true), 0) << v;
  EXPECT_EQ(copy(0), "version five");
  EXPECT_EQ(copy(1), "version five");
  EXPECT_EQ(copy(2), "version four");
  EXPECT_EQ(copy(3), "version three");
  EXPECT_EQ(copy(4), "<none>");

  // A copy beyond the bound is not read: it measures nothing and is left alone.
  const std::string base = THTTPThread::PageCopyName(folder, 8);
  testsupport::WriteFileBytes(base, "x");
  std::filesystem::resize_file(base, THTTPThread::MaxPageCopyBytes + 1);
  EXPECT_EQ(THTTPThread::UpdatePageCopies(folder, 8, "page", true), 0);
  EXPECT_EQ(std::filesystem::file_size(base), THTTPThread::MaxPageCopyBytes + 1);
}

// Results of one retrieval, as its completion handler saw them on the main thread.
struct TResult {
  bool Called = false, Success = false;
  THTTPReq Request;
  std::string Resolved, Text;
  std::int32_t HostID = 0, Kind = -1, Elapsed = -1;
  std::int64_t Data = 0;
  float Change = -1;
};

struct TRig {
  TRig() : Main(new QObject), Context(Main.get(), nullptr) {}

  std::shared_ptr<THTTPThread> Start(TResult& result, const THTTPReq& request, std::int32_t kind = HTTPKindTest,
                                     std::int32_t hostID = 0x1234) {
    THTTPOptions options = Options;
    options.PagesFolder = Dir.File("HTTPPages");
    return THTTPThread::Create(
        Context, "HTTP test", request, kind, hostID + 1000, hostID,
        [&result](THTTPThread&, const THTTPReq& req, const std::string& resolved, std::int32_t id, std::int64_t data,
                  std::int32_t k, float change, bool success, const std::string& text, std::int32_t elapsed) {
          result = {true, success, req, resolved, text, id, k, elapsed, data, change};
        },
        options);
  }
  TResult Run(const THTTPReq& request, std::int32_t kind = HTTPKindTest) {
    TResult result;
    auto thread = Start(result, request, kind);
    EXPECT_TRUE(PumpUntil([&] { return result.Called; }));
    EXPECT_FALSE(thread->IsAlive());
    return result;
  }
  std::string Copy(int n = 0) const {
    const std::string name = THTTPThread::PageCopyName(Dir.File("HTTPPages"), 0x1234, n);
    return FileExists(name) ? testsupport::ReadFileBytes(name) : std::string("<none>");
  }

  THTTPOptions Options;
  testsupport::TTempDir Dir;
  std::unique_ptr<QObject> Main;
  TTestContext Context;
};

class HTTPThreadServer : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3 for the web server";
    ASSERT_TRUE(Server.Start()) << Server.Error();
  }
  testsupport::TStaticHttpServer Server;
};

TEST_F(HTTPThreadServer, TestsMeasureThePageAgainstTheirCopy) {
  TRig rig;
  THTTPReq request;
  request.URL = Server.URL("index.html");
  request.ChangeRecipients = "web@example.net";
  Server.SetPage("index.html", "<html>first</html>");

  TResult r = rig.Run(request);
  EXPECT_TRUE(r.Success) << r.Text;
  EXPECT_EQ(r.Text, "");
  EXPECT_EQ(r.Resolved, "127.0.0.1");
  EXPECT_EQ(r.HostID, 0x1234);
  EXPECT_EQ(r.Data, 0x1234 + 1000);
  EXPECT_EQ(r.Kind, HTTPKindTest);
  EXPECT_EQ(r.Change, 0);
  EXPECT_GE(r.Elapsed, 0);
  EXPECT_EQ(rig.Copy(), "<html>first</html>");

  Server.SetPage("index.html", "<html>second</html>");
  r = rig.Run(request);
  EXPECT_TRUE(r.Success) << r.Text;
  EXPECT_FLOAT_EQ(r.Change, THTTPThread::PageDifference("<html>first</html>", "<html>second</html>"));
  EXPECT_FLOAT_EQ(r.Request.LastChange, r.Change);
  EXPECT_EQ(rig.Copy(), "<html>second</html>");
  EXPECT_EQ(rig.Copy(1), "<html>second</html>");

  // A missing page fails with its status; the base stays for the next comparison.
  Server.RemovePage("index.html");
  r = rig.Run(request);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Text.rfind("[404] ", 0), 0u) << r.Text;
  EXPECT_EQ(r.Change, 0);
  EXPECT_EQ(rig.Copy(), "<html>second</html>");
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
  EXPECT_EQ(rig.Context.Completions.HTTP.load(), 0);
}

TEST_F(HTTPThreadServer, NotificationsLeaveTheTestsCopyAlone) {
  TRig rig;
  THTTPReq request;
  request.URL = Server.URL("index.html");
  request.ChangeRecipients = "web@example.net";
  Server.SetPage("index.html", "<html>the test's page</html>");
  ASSERT_TRUE(rig.Run(request).Success);

  // The notification reaches another address of the same host; its answer must not
  // become the page the test compares with.
  THTTPReq notify = request;
  notify.URL = Server.URL("notify.txt");
  Server.SetPage("notify.txt", "received");
  const TResult n = rig.Run(notify, HTTPKindNotification);
  EXPECT_TRUE(n.Success) << n.Text;
  EXPECT_EQ(n.Change, 0);
  EXPECT_EQ(rig.Copy(), "<html>the test's page</html>");
  EXPECT_EQ(rig.Copy(1), "<none>");

  const TResult again = rig.Run(request);
  EXPECT_TRUE(again.Success);
  EXPECT_EQ(again.Change, 0);
}

TEST_F(HTTPThreadServer, AFailedFirstRetrievalWritesTheBase) {
  TRig rig;
  THTTPReq request;
  request.URL = Server.URL("missing.html");
  request.ChangeRecipients = "web@example.net";
  const TResult r = rig.Run(request);
  EXPECT_FALSE(r.Success);
  // Whatever came back (the server's error page) is the base from now on.
  EXPECT_NE(rig.Copy(), "<none>");
}

TEST(HTTPThread, TerminateWhileWaitingForASlot) {
  TRig rig;
  rig.Context.MaxTCPThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(rig.Context.TCPSlots, 1));
  TResult result;
  THTTPReq request;
  request.URL = "http://127.0.0.1:9/";
  auto thread = rig.Start(result, request);
  workertest::PumpFor(std::chrono::milliseconds(50));
  EXPECT_FALSE(result.Called) << "ran without a slot";
  EXPECT_EQ(rig.Context.TCPSlots.Waiting(), 1);
  thread->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return result.Called; }));
  EXPECT_FALSE(result.Success);
  EXPECT_EQ(rig.Context.TCPSlots.Waiting(), 0);
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 1);
  EXPECT_EQ(rig.Copy(), "<none>") << "a retrieval that never ran wrote a copy";
  rig.Context.TCPSlots.Release();
}

TEST(HTTPThread, HttpsCertificatesThatEndSoonFailTheTest) {
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "the openssl command is not installed";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  testsupport::TTempDir empty;
  testsupport::TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  testsupport::TScopedEnv noDir("SSL_CERT_DIR", empty.Path());
  const auto soon = certs.Server("localhost", 3);
  const auto later = certs.Server("localhost", 30);
  const auto self = certs.Server("localhost", 30, true);
  ASSERT_TRUE(soon.Ok() && later.Ok() && self.Ok()) << certs.Error();
  const auto page = [](testsupport::THttpConnection& c) {
    c.Send(testsupport::THttpTestServer::Response(200, "<html>secure</html>"));
  };
  testsupport::THttpTestServer ending(page), lasting(page), selfSigned(page);
  ASSERT_TRUE(ending.StartTls(soon.CertFile, soon.KeyFile));
  ASSERT_TRUE(lasting.StartTls(later.CertFile, later.KeyFile));
  ASSERT_TRUE(selfSigned.StartTls(self.CertFile, self.KeyFile));
  const auto request = [](const testsupport::THttpTestServer& s) {
    THTTPReq r;
    r.URL = "https://localhost:" + std::to_string(s.Port()) + "/";
    r.ChangeRecipients = "web@example.net";
    return r;
  };

  TRig rig;
  rig.Options.CertExpiryDays = 14;
  const std::time_t before = std::time(nullptr);
  TResult r = rig.Run(request(ending));
  const std::time_t after = std::time(nullptr);
  EXPECT_FALSE(r.Success);
  // Issued for three days a moment ago: three days, or two and nearly all of the third.
  EXPECT_TRUE(r.Text == THTTPThread::CertificateExpiryText(soon.NotAfter, before, 14) ||
              r.Text == THTTPThread::CertificateExpiryText(soon.NotAfter, after, 14))
      << r.Text;
  EXPECT_TRUE(r.Text.rfind("Certificate expires in 2 days (", 0) == 0 ||
              r.Text.rfind("Certificate expires in 3 days (", 0) == 0)
      << r.Text;
  EXPECT_EQ(r.Change, 0);

  r = rig.Run(request(lasting));
  EXPECT_TRUE(r.Success) << r.Text;
  EXPECT_EQ(r.Text, "");

  r = rig.Run(request(selfSigned));
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Text.rfind("Certificate verify failed: ", 0), 0u) << r.Text;

  // Notifications and a check turned off never fail for the date.
  EXPECT_TRUE(rig.Run(request(ending), HTTPKindNotification).Success);
  rig.Options.CertExpiryDays = 0;
  EXPECT_TRUE(rig.Run(request(ending)).Success);
}

TEST(HTTPThread, TerminateCutsARetrievalInProgressShort) {
  testsupport::THttpTestServer silent([](testsupport::THttpConnection& c) { c.Hang(); });
  ASSERT_TRUE(silent.Start());
  TRig rig;
  // Far beyond the wait below: only the abort can end the retrieval in time.
  rig.Options.TimeoutMs = 600000;
  TResult result;
  THTTPReq request;
  request.URL = silent.Url("/");
  auto thread = rig.Start(result, request);
  ASSERT_TRUE(PumpUntil([&] { return !silent.Requests().empty(); }, std::chrono::seconds(30)));
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 1);
  thread->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return result.Called; }, std::chrono::seconds(30))) << "the retrieval went on";
  EXPECT_FALSE(result.Success);
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
  EXPECT_EQ(rig.Copy(), "<none>") << "a retrieval cut short wrote a copy";
}

TEST(HTTPThread, OtherSchemesFailWithoutARequest) {
  TRig rig;
  THTTPReq request;
  request.URL = "ftp://127.0.0.1/page.html";
  request.ChangeRecipients = "web@example.net";
  const TResult r = rig.Run(request);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Text, "URL not supported (http and https only): ftp://127.0.0.1/page.html");
  EXPECT_EQ(rig.Copy(), "<none>");
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
}

}  // namespace
