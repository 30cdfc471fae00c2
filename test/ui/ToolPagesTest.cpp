// The window's tool pages over a real monitor, offscreen: the host menu aims the trace
// at a host, the MAC address menu finds the card's maker, the local commands run and
// their output carries links, the range boxes follow their rules.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include <chrono>
#include <functional>

#include "common/FileUtils.h"
#include "tools/MacVendor.h"
#include "tools/TRemoteTools.h"
#include "ui/TLocalToolsPage.h"
#include "ui/TLogView.h"
#include "ui/TRemoteToolsPage.h"
#include "WindowFixture.h"
#include "support/TestSupport.h"

class ToolPages : public WindowFixture {
protected:
  ToolPages() {
    W->Ask().MessageAnswer = [this](TDialogAsk::TKind, const QString&, const QString& text) {
      Messages.push_back(text);
      return int(QMessageBox::Yes);
    };
  }
  static bool WaitFor(const std::function<bool()>& done, int seconds = 20) {
    return testsupport::ProcessEventsUntil(done, seconds);
  }
  QStringList Messages;
};

TEST_F(ToolPages, HostMenuTracesTheSelectedHostOnTheRemoteToolsPage) {
  Add("Loop", "127.0.0.1", StatusOnline);
  W->SelectHostIndex(0);
  EXPECT_EQ(W->pnlRemote->tbHost->text(), "127.0.0.1");
  EXPECT_TRUE(W->pnlRemote->btnTrace->isEnabled());
  W->PreparePopup();
  ASSERT_TRUE(W->mnuTraceRoute->isEnabled());
  EXPECT_FALSE(W->mnuSendMagicWakeup->isEnabled());
  W->mnuTraceRoute->trigger();
  EXPECT_EQ(W->pcCorvale->currentWidget(), W->tsRemote);
  TRemoteTools& tools = W->pnlRemote->Tools();
  ASSERT_TRUE(WaitFor([&] { return tools.Rows().size() == 1 && tools.Rows()[0].Received == 1; }));
  EXPECT_FALSE(W->pnlRemote->btnTrace->isEnabled());
  // The three requests of a trace route are half a second apart on the monitor's clock.
  for (int i = 0; i < 10 && !tools.ToolsEnabled(); ++i) {
    FClock.Advance(TRemoteTools::PathPingSpacingMs + 1);
    tools.tmrPathPingsTimer();
    WaitFor([&] { return tools.Pending() == 0; }, 5);
  }
  ASSERT_TRUE(WaitFor([&] { return W->pnlRemote->btnTrace->isEnabled(); }));
  Settle();
  EXPECT_EQ(W->pnlRemote->pnlCaption->text(), "Trace Route to 127.0.0.1 [127.0.0.1]");
  EXPECT_EQ(tools.Rows()[0].Cells[TRemoteTools::colSuccess], "3/3 (100%)");
  EXPECT_EQ(W->pnlRemote->sgTrace->model()->rowCount(), 1);
  EXPECT_EQ(W->pnlRemote->sgTrace->model()->headerData(0, Qt::Horizontal).toString(), "Host");
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join("|").toStdString();

  THost& host = *M->Hosts().Items(0);
  host.MACAddress = "00:11:22:33:44:55";
  W->PreparePopup();
  EXPECT_TRUE(W->mnuSendMagicWakeup->isEnabled());
}

TEST_F(ToolPages, MacMenuFindsTheCardManufacturerInTheOuiList) {
  if (!FileExists(OuiListFile)) GTEST_SKIP() << OuiListFile << " is missing (Debian package ieee-data)";
  W->PopupMacMenu("00:02:12:aa:bb:cc", QPoint(10, 10));
  const QList<QAction*> items = W->pmMAC->actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0]->text(), "---MAC: 00:02:12:aa:bb:cc---");
  EXPECT_FALSE(items[0]->isEnabled());
  EXPECT_EQ(items[2]->text(), "Find Card Manufacturer...");
  EXPECT_EQ(items[3]->text(), "Send Magic Wakeup Packet");
  W->pmMAC->hide();
  items[2]->trigger();
  ASSERT_TRUE(WaitFor([&] { return !Messages.isEmpty(); }));
  EXPECT_TRUE(Messages[0].startsWith("MAC Address: 00:02:12:aa:bb:cc\n\nManufacturer:\n")) << Messages[0].toStdString();
  EXPECT_TRUE(Messages[0].contains("SierraCom")) << Messages[0].toStdString();
}

TEST_F(ToolPages, LocalCommandOutputCarriesLinksAndGoesByMail) {
  TLocalToolsPage& page = *W->pnlLocal;
  const QList<QListWidgetItem*> found = page.lbInfo->findItems("IP Configuration", Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  page.lbInfo->setCurrentItem(found[0]);
  W->pcCorvale->setCurrentWidget(W->tsLocal);
  W->btnRefreshClick();
  EXPECT_TRUE(page.Running());
  EXPECT_FALSE(page.pnlCommands->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return !page.Running(); }));
  EXPECT_EQ(page.Heading(), "IP Configuration");
  bool loopback = false;
  for (const std::string& line : page.OutputLines()) {
    for (const TOutputLink& link : FindOutputLinks(line)) loopback = loopback || link.Link.Text == "127.0.0.1";
    EXPECT_EQ(line.find('\t'), std::string::npos);
  }
  EXPECT_TRUE(loopback);
  // The log page's "Send via Email..." dialog takes the results.
  TLogMail mail;
  W->frmLog->SetMailDialog([&](TLogMail& m) {
    mail = m;
    return false;
  });
  page.btnEmail->click();
  EXPECT_EQ(mail.Subject.rfind("IP Configuration on ", 0), 0u) << mail.Subject;
  EXPECT_NE(mail.Body.find("127.0.0.1"), std::string::npos);
  EXPECT_NE(mail.Body.find("\r\n"), std::string::npos);
}

TEST_F(ToolPages, RangeBoxesAcceptPrefixesAndAskBeforeLargeRanges) {
  TRemoteToolsPage& page = *W->pnlRemote;
  page.tbPingFrom->setText("10.0.0.5/30");
  EXPECT_FALSE(page.btnPingRange->isEnabled());
  page.tbPingFrom->setText("127.0.3.77/22");
  EXPECT_TRUE(page.btnPingRange->isEnabled());
  page.tbPingFromExit();
  EXPECT_EQ(page.tbPingFrom->text(), "127.0.0.1");
  EXPECT_EQ(page.tbPingTo->text(), "127.0.3.254");
  // 1,022 addresses: asked first; answered No, nothing starts.
  W->Ask().MessageAnswer = [this](TDialogAsk::TKind, const QString&, const QString& text) {
    Messages.push_back(text);
    return int(QMessageBox::No);
  };
  page.btnPingRangeClick();
  ASSERT_EQ(Messages.size(), 1);
  EXPECT_TRUE(Messages[0].startsWith("The network range you have selected contains 1022 hosts."));
  EXPECT_TRUE(page.Tools().Rows().empty());
}

TEST_F(ToolPages, LocalCommandListHasTheLinuxEntries) {
  std::vector<std::string> names;
  for (const TLocalCommand& c : LocalCommands()) names.push_back(c.Name);
  for (const char* expected : {"IP Configuration", "Routing Table", "ARP Cache", "Active Ports", "Protocol Summary"})
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
  const std::vector<std::string> tidy = TidyCommandOutput("\r\n\r\nab\tc  \r\r\nx\t\r\n\r\n");
  EXPECT_EQ(tidy, (std::vector<std::string>{"ab      c", "x"}));
  const std::vector<TOutputLink> links = FindOutputLinks("link/ether 02:00:00:00:00:63 brd ff:ff:ff:ff:ff:ff 192.0.2.7");
  ASSERT_EQ(links.size(), 3u);
  EXPECT_TRUE(links[0].Mac);
  EXPECT_EQ(links[0].Link.Text, "02:00:00:00:00:63");
  EXPECT_EQ(links[2].Link.Text, "192.0.2.7");
  EXPECT_FALSE(links[2].Mac);
}
