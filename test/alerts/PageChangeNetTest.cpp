// Web-page tests end to end: the monitor tests a page on a real static web server on
// loopback, keeps its copies in the data folder, notes a change above the threshold and
// the page-change alert reaches a real SMTP server.
#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "alerts/TAlerts.h"
#include "common/FileUtils.h"
#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "hosttests/THTTPThread.h"
#include "support/TAiosmtpdServer.h"
#include "support/TStaticHttpServer.h"

namespace {

// A page of many lines; edits of a few bytes change a small fraction of it.
std::string LongPage(const std::string& marker) {
  std::string page = "<html><body>" + marker + "\r\n";
  for (int i = 0; i < 400; ++i) page += "<p>Paragraph " + std::to_string(i) + " of the page.</p>\r\n";
  return page + "</body></html>\r\n";
}

// %pctchanged% of a fraction.
std::string PercentVariable(float change) {
  const double hundredths = std::trunc(static_cast<double>(change) * 10000 + 0.5);
  const long long h = static_cast<long long>(hundredths);
  std::string text = std::to_string(h / 100);
  if (h % 100 != 0) text += (h % 10 != 0 ? "." + std::to_string(h % 100 / 10) + std::to_string(h % 10)
                                         : "." + std::to_string(h % 100 / 10));
  return text + "%";
}

}  // namespace

class PageChangeNet : public MonitorFixture {
protected:
  void SetUp() override {
    if (!testsupport::TAiosmtpdServer::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed";
    ASSERT_TRUE(FWeb.Start()) << FWeb.Error();
    FMail = std::make_unique<testsupport::TAiosmtpdServer>();
    ASSERT_TRUE(FMail->Start()) << FMail->Error();
    M = NewMonitor();
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
    M->Scheduler().SetDataFolder(DataFolder());
    TSettings& s = M->Settings();
    s.FailFreqAdj = false;
    s.TestHostServices = false;
    TEmailConfig& c = A->EmailConfig();
    c.PrimaryServer = "127.0.0.1:" + std::to_string(FMail->Port());
    c.PrimarySender = "monitor@example.net";
    c.PrimaryUser = "alerts";
    c.PrimaryPassword = "s3cret pass";
  }

  void TearDown() override {
    M.reset();
    A.reset();
  }

  THost* AddHost(const std::string& recipients, float threshold) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = "Web";
    record->Address = "127.0.0.1";
    record->TestKind = TestHTTP;
    record->TestInterval = 1;
    record->ErrorAfter = 3;
    record->HTTPTest.URL = FWeb.URL("index.html");
    record->HTTPTest.ChangeRecipients = recipients;
    record->HTTPTest.ChangeThreshold = threshold;
    return M->Hosts().Add(std::move(record));
  }

  bool WaitFor(const std::function<bool()>& done, int seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  // One test of the page as it is now, a minute after the last.
  void TestPage(const THost* host) {
    FClock.Advance(60000);
    M->Timer1Timer();
    ASSERT_TRUE(host->RunningTest) << "no test started";
    ASSERT_TRUE(WaitFor([&] { return !host->RunningTest; })) << "the test did not finish";
  }

  std::string Copy(const THost* host, int n = 0) const {
    const std::string name = THTTPThread::PageCopyName(DataFolder() + "HTTPPages", host->ID, n);
    return FileExists(name) ? testsupport::ReadFileBytes(name) : std::string("<none>");
  }

  std::string Stamp() const { return FormatDateTime("h:nna/p ", FClock.Now()); }

  bool Noted(const THost* host) const { return host->LastErrorText.find("Page content changed") != std::string::npos; }

  void SendMail() {
    FClock.Advance(5000);
    A->AlertTimer();
    ASSERT_TRUE(WaitFor([&] { return A->Queue().Entries().empty(); })) << "the mail was not sent";
  }

  testsupport::TStaticHttpServer FWeb;
  std::unique_ptr<testsupport::TAiosmtpdServer> FMail;
  std::unique_ptr<TAlerts> A;
  std::unique_ptr<TMonitor> M;
};

TEST_F(PageChangeNet, ChangesAboveTheThresholdAreNotedAndMailed) {
  THost* host = AddHost("web@example.net; ", 5);
  const std::string first = LongPage("first");
  FWeb.SetPage("index.html", first);

  // The first page is the base: no change.
  TestPage(host);
  ASSERT_EQ(host->Status, StatusOnline) << host->LastErrorText;
  EXPECT_EQ(host->HTTPTest.LastChange, 0);
  EXPECT_EQ(host->CurrentIP, "127.0.0.1");
  EXPECT_EQ(Copy(host), first);
  EXPECT_EQ(Copy(host, 1), "<none>");
  EXPECT_FALSE(Noted(host));

  // A small edit is measured and becomes the base, but neither notes nor alerts.
  const std::string second = LongPage("secnd");
  FWeb.SetPage("index.html", second);
  TestPage(host);
  const float small = THTTPThread::PageDifference(first, second);
  ASSERT_GT(small, 0);
  ASSERT_LT(small * 100, 5);
  EXPECT_FLOAT_EQ(host->HTTPTest.LastChange, small);
  EXPECT_FALSE(Noted(host)) << host->LastErrorText;
  EXPECT_TRUE(A->Queue().Entries().empty());
  EXPECT_EQ(Copy(host), second);
  EXPECT_EQ(Copy(host, 1), second);

  // A new page altogether.
  const std::string third = "<html><body>Closed for the holidays.</body></html>";
  FWeb.SetPage("index.html", third);
  TestPage(host);
  const float big = THTTPThread::PageDifference(second, third);
  ASSERT_GT(big * 100, 5);
  EXPECT_FLOAT_EQ(host->HTTPTest.LastChange, big);
  EXPECT_EQ(host->Status, StatusOnline);
  const long long tenths = static_cast<long long>(big * 1000 + 0.5);
  const std::string percent = std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "");
  EXPECT_EQ(host->LastErrorText, Stamp() + "Page content changed " + percent + "%");
  ASSERT_EQ(A->Queue().Entries().size(), 1u);
  EXPECT_TRUE(HasLine(*M, "Queued Alert to web@example.net; , Subject: Page Change: Web", 'M'));
  EXPECT_EQ(Copy(host, 1), third);
  EXPECT_EQ(Copy(host, 2), second);
  EXPECT_EQ(Copy(host, 3), "<none>");

  SendMail();
  ASSERT_EQ(FMail->Deliveries().size(), 1u);
  const testsupport::TSmtpDelivery mail = FMail->Deliveries().front();
  EXPECT_EQ(mail.Rcpts, (std::vector<std::string>{"web@example.net"}));
  EXPECT_NE(mail.Raw.find("Subject: Page Change: Web"), std::string::npos) << mail.Raw;
  EXPECT_NE(mail.Raw.find("Host: " + FWeb.URL("index.html")), std::string::npos) << mail.Raw;
  EXPECT_NE(mail.Raw.find("Change: " + PercentVariable(big)), std::string::npos) << mail.Raw;
  EXPECT_NE(mail.Raw.find("X-Priority: 3"), std::string::npos) << mail.Raw;

  // The fourth version fills the third numbered copy; the same page again changes nothing.
  const std::string fourth = "<html><body>Open again.</body></html>";
  FWeb.SetPage("index.html", fourth);
  TestPage(host);
  EXPECT_EQ(Copy(host, 1), fourth);
  EXPECT_EQ(Copy(host, 2), third);
  EXPECT_EQ(Copy(host, 3), second);
  TestPage(host);
  EXPECT_EQ(host->HTTPTest.LastChange, 0);
}

TEST_F(PageChangeNet, ThresholdZeroRecipientsAndFailures) {
  // A missing page fails with its status, and whatever came back becomes the base.
  THost* host = AddHost("web@example.net", 0);
  TestPage(host);
  EXPECT_EQ(host->Status, StatusWarning);
  EXPECT_NE(host->LastErrorText.find("[404] "), std::string::npos) << host->LastErrorText;
  const std::string errorPage = Copy(host);
  EXPECT_NE(errorPage, "<none>");
  EXPECT_FALSE(Noted(host));

  // A threshold of 0 counts the smallest measurable change.
  const std::string first = LongPage("first");
  FWeb.SetPage("index.html", first);
  TestPage(host);
  EXPECT_EQ(host->Status, StatusOnline);
  EXPECT_GT(host->HTTPTest.LastChange, 0);  // against the error page
  EXPECT_TRUE(Noted(host));
  ASSERT_EQ(A->Queue().Entries().size(), 1u);
  SendMail();

  const std::string tiny = LongPage("firss");
  FWeb.SetPage("index.html", tiny);
  TestPage(host);
  const float change = THTTPThread::PageDifference(first, tiny);
  ASSERT_LT(change * 100, 0.1);
  EXPECT_FLOAT_EQ(host->HTTPTest.LastChange, change);
  EXPECT_TRUE(Noted(host)) << host->LastErrorText;
  EXPECT_EQ(host->LastErrorText, Stamp() + "Page content changed 0%");
  ASSERT_EQ(A->Queue().Entries().size(), 1u);

  // Only letter case changed: no change at all.
  FWeb.SetPage("index.html", LongPage("FIRSS"));
  TestPage(host);
  EXPECT_EQ(host->HTTPTest.LastChange, 0);

  // Without recipients nothing is measured, so nothing is noted and the base stays.
  host->HTTPTest.ChangeRecipients.clear();
  FWeb.SetPage("index.html", "<html>entirely new</html>");
  const std::string lastNote = host->LastErrorText;
  TestPage(host);
  EXPECT_EQ(host->Status, StatusOnline);
  EXPECT_EQ(host->HTTPTest.LastChange, 0);
  EXPECT_EQ(host->LastErrorText, lastNote);
  EXPECT_EQ(Copy(host), tiny);
  EXPECT_EQ(A->Queue().Entries().size(), 1u);

  // Recipients of separators only measure, and note, but alert no one.
  host->HTTPTest.ChangeRecipients = " ; ";
  FWeb.SetPage("index.html", "<html>newer still</html>");
  TestPage(host);
  EXPECT_GT(host->HTTPTest.LastChange, 0);
  EXPECT_EQ(host->LastErrorText.rfind(Stamp() + "Page content changed ", 0), 0u) << host->LastErrorText;
  EXPECT_EQ(A->Queue().Entries().size(), 1u);
}
