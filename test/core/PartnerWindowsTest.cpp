// Other programs following the hosts through window messages: subscriptions, the host
// records they receive byte for byte, and partners that vanish or never read.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstring>

#include "core/MonitorFixture.h"
#include "core/TPartnerWindows.h"
#include "platform/TWindowChannel.h"
#include "platform/WindowMessages.h"

namespace {

struct TReceived {
  std::uintptr_t Kind = 0;
  std::string Bytes;
};

// Reads the payload by the offsets partners are told, independently of the writer.
struct TRecordReader {
  const std::string& P;
  std::size_t Base;
  std::uint64_t Num(std::size_t at, int bytes) const {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(P.at(Base + at + i));
    return v;
  }
  std::int32_t Int(std::size_t at) const { return static_cast<std::int32_t>(Num(at, 4)); }
  double Dbl(std::size_t at) const {
    const std::uint64_t bits = Num(at, 8);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  std::string Text(std::size_t at) const {
    return P.substr(Base + at + 1, static_cast<unsigned char>(P.at(Base + at)));
  }
};
TRecordReader Record(const std::string& payload, int n) { return {payload, 8 + 1374 * static_cast<std::size_t>(n)}; }

class PartnerWindowsTest : public MonitorFixture {
protected:
  PartnerWindowsTest() : M(NewMonitor()) {
    M->Startup();
    // Only the results a test hands over count.
    M->Scheduler().AllowTimer(false);
    M->Partners().SetTimes({1000, 2000, 50});
  }

  static void RunUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  std::intptr_t Send(std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
    std::intptr_t result = -1;
    EXPECT_TRUE(SendMessageTimeout(M->WindowHandle(), msg, w, l, 5000, result));
    return result;
  }
  THost& Add(const std::string& name, TTestKind kind) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = "127.0.0.1";
    record->TestKind = kind;
    record->LastCheck = FClock.Now();
    record->TestInterval = 60;
    return *M->Hosts().Add(std::move(record));
  }
  int SenderEntries() const {
    int n = 0;
    for (const TRunningTask& t : M->RunningTests()) n += t.Name.rfind("Send App Message ", 0) == 0;
    return n;
  }

  std::unique_ptr<TMonitor> M;
};

TEST_F(PartnerWindowsTest, SubscriberReceivesHostRecordsLaidOutByteForByte) {
  std::vector<TReceived> got;
  TWindowChannel partner([](std::uint32_t, std::uintptr_t, std::intptr_t) { return 0; },
                         [&](std::uintptr_t, std::uintptr_t kind, std::string bytes) {
                           got.push_back({kind, std::move(bytes)});
                           return 1;
                         });
  ASSERT_TRUE(partner.Register("TPartnerWindow", "Partner App"));
  const std::uintptr_t w = partner.Handle();

  Add(";Servers", TestPing);
  THost& tcp = Add("Alpha", TestTCP);
  tcp.Port = 8080;
  THost& web = Add(std::string(300, 'W'), TestHTTP);
  web.HTTPTest.URL = "https://intranet.example/status/";
  web.TestInterval = 2.5;
  THost& gamma = Add("Gamma", TestPing);
  gamma.DisabledUntil = 1.0;

  // Subscribing twice, cancelling what is not subscribed, and indexes that name no host.
  EXPECT_EQ(Send(3026, w, 0), 1);
  EXPECT_EQ(Send(3026, w, 0), 0);
  EXPECT_EQ(Send(3025, w, 99), 0);
  EXPECT_EQ(Send(3025, w, 0), 0);  // the group row
  EXPECT_EQ(Send(3025, 0x7fff0001, 1), 0);  // no such window
  EXPECT_EQ(Send(3024, 0x7fff0001, 0), 0);

  M->UpdateHostStatus(TTestResult{web.ID, true, false, 42, "127.0.0.1", {}, {}});
  RunUntil([&] { return !got.empty(); });
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Kind, 6441u);
  ASSERT_EQ(got[0].Bytes.size(), 8u + 1374u);
  const TRecordReader r = Record(got[0].Bytes, 0);
  EXPECT_EQ(r.Num(0 - 8, 4), 1u);      // count
  EXPECT_EQ(r.Num(4 - 8, 4), 1374u);   // record size
  EXPECT_EQ(r.Int(0), 2);              // list index
  EXPECT_EQ(r.Text(4), std::string(255, 'W'));
  EXPECT_EQ(r.Text(260), "127.0.0.1");
  EXPECT_EQ(r.Text(516), "127.0.0.1");
  EXPECT_EQ(r.Dbl(772), 2.5);
  EXPECT_EQ(r.Dbl(788), FClock.Now());
  EXPECT_EQ(r.Dbl(796), FClock.Now());
  EXPECT_EQ(r.Num(820, 4), 1u);        // successes
  EXPECT_EQ(r.Num(840, 8), 42u);       // total response
  EXPECT_EQ(r.Int(1104), 0);           // Online
  EXPECT_EQ(r.Int(1108), -1);          // previously Unknown
  EXPECT_EQ(r.Int(1112), 4);           // HTTP
  EXPECT_EQ(got[0].Bytes[8 + 1116], '@');
  EXPECT_EQ(r.Text(1117), "intranet.example/status");
  EXPECT_EQ(got[0].Bytes[8 + 1373], 0);

  // The host list without group rows: three records in a payload sized for all four.
  got.clear();
  EXPECT_EQ(Send(3024, w, 0), 1);
  RunUntil([&] { return !got.empty(); });
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Kind, 6442u);
  ASSERT_EQ(got[0].Bytes.size(), 8u + 4u * 1374u);
  EXPECT_EQ(Record(got[0].Bytes, 0).Num(0 - 8, 4), 3u);
  EXPECT_EQ(Record(got[0].Bytes, 0).Int(0), 1);
  EXPECT_EQ(got[0].Bytes[8 + 1116], ':');
  EXPECT_EQ(Record(got[0].Bytes, 0).Text(1117), "8080");
  EXPECT_EQ(Record(got[0].Bytes, 2).Text(4), "Gamma");
  EXPECT_EQ(got[0].Bytes[8 + 2 * 1374 + 1116], '\0');
  EXPECT_EQ(got[0].Bytes[8 + 2 * 1374 + 1373], 1);  // disabled until further notice
  EXPECT_EQ(got[0].Bytes.substr(8 + 3 * 1374), std::string(1374, '\0'));

  // With group rows, and one host asked for by index.
  got.clear();
  EXPECT_EQ(Send(3024, w, 1), 1);
  EXPECT_EQ(Send(3025, w, 1), 1);
  RunUntil([&] { return got.size() >= 2; });
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(Record(got[0].Bytes, 0).Num(0 - 8, 4), 4u);
  EXPECT_EQ(Record(got[0].Bytes, 0).Text(4), ";Servers");
  EXPECT_EQ(got[1].Kind, 6441u);
  EXPECT_EQ(Record(got[1].Bytes, 0).Text(4), "Alpha");

  // The configuration dialog's OK sends the new list to subscribers.
  got.clear();
  THostList::TRecords working;
  for (const auto& host : M->Hosts().Records()) working.push_back(std::make_unique<THost>(*host));
  working.pop_back();
  for (auto& record : working) record->RunningTest.reset();
  ASSERT_TRUE(M->ApplyConfiguration(std::move(working)));
  RunUntil([&] { return !got.empty(); });
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Kind, 6442u);
  EXPECT_EQ(Record(got[0].Bytes, 0).Num(0 - 8, 4), 2u);
  EXPECT_EQ(got[0].Bytes.size(), 8u + 3u * 1374u);

  // Cancelled: results reach the partner no more.
  EXPECT_EQ(Send(3027, w, 0), 1);
  EXPECT_EQ(Send(3027, w, 0), 0);
  got.clear();
  M->UpdateHostStatus(TTestResult{M->Hosts().Items(1)->ID, true, false, 1, {}, {}, {}});
  RunUntil([&] { return SenderEntries() == 0; });
  QCoreApplication::processEvents();
  EXPECT_TRUE(got.empty());
  for (const char* line : {"Host Updates Notification Requested By Partner App", "Host List Sent To Partner App",
                           "Host Alpha Update Sent To Partner App", "Host Update Notification Canceled By Partner App"})
    EXPECT_TRUE(HasLine(*M, line, 'Z')) << line;
}

TEST_F(PartnerWindowsTest, PartnerThatVanishedIsDroppedAtTheNextUpdate) {
  THost& host = Add("Alpha", TestPing);
  auto partner = std::make_unique<TWindowChannel>([](std::uint32_t, std::uintptr_t, std::intptr_t) { return 0; },
                                                  [](std::uintptr_t, std::uintptr_t, std::string) { return 1; });
  ASSERT_TRUE(partner->Register("TPartnerWindow", "Short Lived"));
  EXPECT_EQ(Send(3026, partner->Handle(), 0), 1);
  RunUntil([&] { return SenderEntries() == 0; });
  partner.reset();
  M->UpdateHostStatus(TTestResult{host.ID, true, false, 1, {}, {}, {}});
  RunUntil([&] { return M->Partners().Subscribers().empty() && SenderEntries() == 0; });
  EXPECT_TRUE(M->Partners().Subscribers().empty());
  EXPECT_EQ(SenderEntries(), 0);
}

// A socket that takes connections into its backlog but never answers: a partner that hangs.
class THungWindow {
public:
  explicit THungWindow(std::uintptr_t handle) : Handle(handle) {
    Path = WindowFolder() + "/" + winwire::SocketName("THungPartner", handle);
    Fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, Path.c_str(), sizeof addr.sun_path - 1);
    Ok = ::bind(Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(Fd, 512) == 0;
  }
  ~THungWindow() {
    ::close(Fd);
    ::unlink(Path.c_str());
  }
  std::uintptr_t Handle;
  std::string Path;
  int Fd = -1;
  bool Ok = false;
};

TEST_F(PartnerWindowsTest, PartnerThatNeverReadsHoldsOneBoundedQueueAndNoThreads) {
  THost& host = Add("Alpha", TestPing);
  THungWindow hung(987654321);
  ASSERT_TRUE(hung.Ok);
  M->Partners().SetTimes({100, 200, 20});
  EXPECT_EQ(Send(3026, hung.Handle, 0), 1);
  // Far more results than the queue holds, while the sender waits for the caption.
  for (int i = 0; i < 600; ++i) M->UpdateHostStatus(TTestResult{host.ID, i % 2 == 0, false, 1, {}, "x", {}});
  EXPECT_EQ(SenderEntries(), 1);
  // The monitor answers others meanwhile.
  std::intptr_t result = 0;
  EXPECT_TRUE(SendMessageTimeout(M->WindowHandle(), WM_CORVALE_SHOW, 0, 0, 2000, result));
  auto hasError = [&](const std::string& text) {
    for (const TLogLine& l : M->Log().Lines())
      if (l.Text.find(text) != std::string::npos && l.Text.back() == 'E') return true;
    return false;
  };
  RunUntil([&] { return hasError("messages dropped"); }, 15000);
  // Up to 600 less the 256 kept: fewer when the sender took some before the queue filled.
  EXPECT_TRUE(hasError("Exception in partner window window 987654321: "));
  EXPECT_TRUE(hasError("Error Updating Host Information for window 987654321 : "));
  EXPECT_EQ(SenderEntries(), 1);
  EXPECT_EQ(M->Partners().Subscribers().size(), 1u);
}

// The partner program admins run from scripts/, as a real process.
TEST_F(PartnerWindowsTest, ScriptPartnerSubscribesPrintsUpdatesAndCancelsOnStop) {
  THost& host = Add("Alpha", TestPing);
  Add("Beta", TestPing);
  const QString script = QString::fromUtf8(CORVALE_SOURCE_DIR "/scripts/corvale-partner.py");
  QProcess list;
  list.start("python3", {script, "--list"});
  RunUntil([&] { return list.state() == QProcess::NotRunning; });
  EXPECT_EQ(list.exitCode(), 0) << list.readAllStandardError().toStdString();
  EXPECT_EQ(list.readAllStandardOutput().toStdString(), "Alpha\tUnknown\nBeta\tUnknown\n");

  QProcess follower;
  follower.start("python3", {script});
  RunUntil([&] { return M->Partners().Subscribers().size() == 1; });
  ASSERT_EQ(M->Partners().Subscribers().size(), 1u) << follower.readAllStandardError().toStdString();
  M->UpdateHostStatus(TTestResult{host.ID, false, false, 0, {}, "Request timed out.", {}});
  std::string out;
  RunUntil([&] {
    out += follower.readAllStandardOutput().toStdString();
    return out.find('\n') != std::string::npos;
  });
  EXPECT_EQ(out, "Alpha\tWarning\t2:05p Request timed out.\n");
  follower.terminate();
  RunUntil([&] { return follower.state() == QProcess::NotRunning; });
  EXPECT_EQ(follower.exitCode(), 0);
  EXPECT_TRUE(M->Partners().Subscribers().empty());
  EXPECT_TRUE(HasLine(*M, "Host Update Notification Canceled By Corvale partner (scripts/corvale-partner.py)", 'Z'));
}

}  // namespace
