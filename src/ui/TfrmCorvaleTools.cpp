// The main window's network tools: the two tool pages, the host menu's tool items, the
// MAC address menu and the address links of the local tools' output.
#include <QGuiApplication>
#include <QMenu>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/THostList.h"
#include "core/TMonitor.h"
#include "hosttests/TTestContext.h"
#include "tools/MacVendor.h"
#include "tools/MagicWakeup.h"
#include "ui/Latin1Text.h"
#include "ui/TLocalToolsPage.h"
#include "ui/TLogView.h"
#include "ui/TRemoteToolsPage.h"
#include "ui/TfrmCorvale.h"

namespace {
QString MessageText(const std::string& text) { return Latin1(text).replace(QLatin1Char('\r'), QLatin1Char('\n')); }
}  // namespace

void TfrmCorvale::CreateToolPages() {
  pnlRemote = new TRemoteToolsPage(FMonitor, FAsk, tsRemote);
  // The pages must not hold the window wider than the narrow mode wants it.
  pnlRemote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  auto* remote = new QVBoxLayout(tsRemote);
  remote->setContentsMargins(0, 0, 0, 0);
  remote->addWidget(pnlRemote);
  pnlLocal = new TLocalToolsPage(FMonitor, tsLocal);
  pnlLocal->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  auto* local = new QVBoxLayout(tsLocal);
  local->setContentsMargins(0, 0, 0, 0);
  local->addWidget(pnlLocal);
  connect(pnlLocal, &TLocalToolsPage::MacLinkClicked, this, &TfrmCorvale::PopupMacMenu);
  connect(pnlLocal, &TLocalToolsPage::HostLinkClicked, this, &TfrmCorvale::OpenAddressLink);
  connect(pnlLocal, &TLocalToolsPage::EmailRequested, this, [this](const QString& subject, const QString& body) {
    frmLog->SendText(Latin1(subject), Latin1(body));
  });

  pmMAC = new QMenu(this);
  pmMAC->setObjectName("pmMAC");
}

void TfrmCorvale::TraceRouteClick() {
  const THost* host = SelectedHost();
  if (!host) return;
  pnlRemote->SetHost(host->Address);
  pcCorvale->setCurrentWidget(tsRemote);
  pnlRemote->TraceRouteClick();
}

void TfrmCorvale::SendMagicWakeupClick() {
  if (const THost* host = SelectedHost()) SendMagicWakeupPacketClick(Latin1(host->MACAddress));
}

void TfrmCorvale::SendMagicWakeupPacketClick(const QString& mac) {
  const TToolMessage sent = SendMagicWakeup(Latin1(mac));
  FAsk.Message(this, sent.Warning ? TDialogAsk::TKind::Warning : TDialogAsk::TKind::Information,
               QStringLiteral("Corvale"), MessageText(sent.Text));
}

void TfrmCorvale::FindCardManufacturerClick(const QString& mac) {
  setCursor(Qt::BusyCursor);
  const std::string text = Latin1(mac);
  const std::string server = FMonitor.Settings().Value(OuiServerSetting);
  const int timeoutMs = FMonitor.Settings().HTTPTimeoutMs();
  TTestContext& tests = FMonitor.Tests();
  QPointer<TfrmCorvale> self(this);
  // The list is read, and the server asked, on the pool.
  tests.RunInPool([self, text, server, timeoutMs, &tests] {
    std::string vendor;
    const bool found = LookUpVendor(text, OuiListFile, server, timeoutMs, vendor);
    tests.PostCompletion(tests.Completions.HTTP, [self, text, found, vendor] {
      if (!self) return;
      self->unsetCursor();
      const TToolMessage message = VendorMessage(text, found, vendor);
      self->FAsk.Message(self, TDialogAsk::TKind::Information, QStringLiteral("Corvale"), MessageText(message.Text));
    });
  });
}

void TfrmCorvale::PopupMacMenu(const QString& mac, QPoint globalPos) {
  pmMAC->clear();
  pmMAC->addAction(QStringLiteral("---MAC: ") + mac + QStringLiteral("---"))->setEnabled(false);
  pmMAC->addSeparator();
  pmMAC->addAction(QStringLiteral("Find Card Manufacturer..."), this, [this, mac] { FindCardManufacturerClick(mac); })
      ->setObjectName("FindCardManufacturer1");
  pmMAC->addAction(QStringLiteral("Send Magic Wakeup Packet"), this, [this, mac] { SendMagicWakeupPacketClick(mac); })
      ->setObjectName("SendMagicWakeupPacket1");
  pmMAC->popup(globalPos);
}

void TfrmCorvale::OpenAddressLink(const QString& address, QPoint globalPos) {
  // A monitored host opens its own menu; any other address can still be traced.
  const std::string text = Latin1(address);
  for (const auto& record : FMonitor.Hosts().Records())
    if (!record->IsGroup() && (record->Address == text || record->CurrentIP == text)) {
      PopupHostMenu(record->ID, globalPos);
      return;
    }
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(QStringLiteral("---") + address + QStringLiteral("---"))->setEnabled(false);
  menu->addAction(QStringLiteral("Trace Route"), this, [this, text] {
    pnlRemote->SetHost(text);
    pcCorvale->setCurrentWidget(tsRemote);
    pnlRemote->TraceRouteClick();
  });
  menu->popup(globalPos);
}
