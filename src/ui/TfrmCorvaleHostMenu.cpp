// The host menu of the main window and the operations behind it and the tool bar.
#include <QGuiApplication>
#include <QMenu>


#include "alerts/TAlerts.h"
#include "common/Clock.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "core/TPluginHost.h"
#include "ui/HostMenuRules.h"
#include "ui/THostActionsMenu.h"
#include "ui/THostTableModel.h"
#include "ui/TLocalToolsPage.h"
#include "ui/TPingListView.h"
#include "ui/TRemoteToolsPage.h"
#include "ui/TfrmCorvale.h"

void TfrmCorvale::CreateHostMenu() {
  pmActions = new QMenu(this);
  pmActions->setObjectName("pmActions");
  auto withModifiers = [](auto operation) {
    return [operation] { operation(QGuiApplication::queryKeyboardModifiers()); };
  };
  mnuTestHost = pmActions->addAction(QStringLiteral("Test Host Status"), this, [this] {
    const int index = SelectedHostIndex();
    if (index >= 0) FMonitor.TestHostNow(index);
  });
  mnuResetHost = pmActions->addAction(QStringLiteral("Reset Host Status"), this,
                                      withModifiers([this](Qt::KeyboardModifiers m) { ResetHostStatusClick(m); }));
  mnuResetDependents = pmActions->addAction(
      QStringLiteral("Reset Dependent Hosts"), this,
      withModifiers([this](Qt::KeyboardModifiers m) { ResetDependentHostsClick(m); }));
  mnuSimulate = pmActions->addAction(QStringLiteral("Simulate Host Failure"), this, [this] {
    const int index = SelectedHostIndex();
    if (index >= 0) FMonitor.SimulateHostFailure(index);
  });
  mnuSimulate->setCheckable(true);
  pmActions->addSeparator();

  mnuDisable = new QMenu(QStringLiteral("Disable Host..."), pmActions);
  mnuDisable->setObjectName("mnuDisable");
  for (std::size_t i = 0; i < DisableItems.size(); ++i) {
    QAction* item = mnuDisable->addAction(QString::fromLatin1(DisableItems[i].Caption), this,
                                          [this, i] { DisableItemClick(static_cast<int>(i)); });
    item->setCheckable(true);
    mnuDisableItems.append(item);
    if (i == 0) mnuDisable->addSeparator();
  }
  mnuDisableHost = pmActions->addMenu(mnuDisable);
  pmActions->addSeparator();

  mnuViewAs = new QMenu(QStringLiteral("View As..."), pmActions);
  mnuViewAs->setObjectName("mnuViewAs");
  const std::pair<const char*, THostTableModel::TViewStyle> styles[] = {{"&Details", THostTableModel::vsReport},
                                                                         {"&List", THostTableModel::vsList},
                                                                         {"Small Icons", THostTableModel::vsSmallIcon},
                                                                         {"&Icons", THostTableModel::vsIcon}};
  for (const auto& [caption, style] : styles) {
    QAction* item = mnuViewAs->addAction(QString::fromLatin1(caption), this, [this, style = style] {
      FModel->SetViewStyle(style);
      lvPing->ApplyViewStyle();
      OnDisplayUpdated();
    });
    item->setCheckable(true);
    mnuViewStyles.append(item);
  }
  mnuViewAsItem = pmActions->addMenu(mnuViewAs);
  mnuPopupSep = pmActions->addSeparator();

  auto* popupSound = new QMenu(QStringLiteral("Popup/Sound Alerts"), pmActions);
  popupSound->setObjectName("mnuPopupSound");
  mnuVOnDown = popupSound->addAction(QStringLiteral("Popup on Host Offline"), this,
                                     [this] { ToggleHostFlag(&THost::AlertWindow, "mnuVOnDownClick"); });
  mnuAOnDown = popupSound->addAction(QStringLiteral("Global Sound on Host Offline"), this,
                                     [this] { ToggleHostFlag(&THost::GlobalOfflineSound, "mnuAOnDownClick"); });
  popupSound->addSeparator();
  mnuVOnUp = popupSound->addAction(QStringLiteral("Popup on Host Online"), this,
                                   [this] { ToggleHostFlag(&THost::OnlinePopup, "mnuVOnUpClick"); });
  mnuAOnUp = popupSound->addAction(QStringLiteral("Global Sound on Host Online"), this,
                                   [this] { ToggleHostFlag(&THost::GlobalOnlineSound, "mnuAOnUpClick"); });
  for (QAction* a : {mnuVOnDown, mnuAOnDown, mnuVOnUp, mnuAOnUp}) a->setCheckable(true);
  mnuPopupSound = pmActions->addMenu(popupSound);
  pmActions->addSeparator();
  mnuViewInLog = pmActions->addAction(QStringLiteral("View In Log..."), this, &TfrmCorvale::ViewInLogClick);
  mnuTraceRoute = pmActions->addAction(QStringLiteral("Trace Route"), this, &TfrmCorvale::TraceRouteClick);
  mnuSendMagicWakeup =
      pmActions->addAction(QStringLiteral("Send Magic Wakeup"), this, &TfrmCorvale::SendMagicWakeupClick);
  mnuSendEmail = pmActions->addAction(QStringLiteral("Send Email Message..."), this, &TfrmCorvale::btnAlertClick);
  mnuCancelEmail =
      pmActions->addAction(QStringLiteral("Cancel Pending Email"), this, &TfrmCorvale::CancelPendingEmailClick);
  FHostActions = new THostActionsMenu(FMonitor, FAsk, this);
  FHostActions->Create(pmActions, mnuPopupSep);
}

void TfrmCorvale::PreparePopup() {
  const THost* host = SelectedHost();
  const TDateTime now = FMonitor.Clock().Now();
  // Without a host the operations would have nothing to act on.
  for (QAction* a : {mnuTestHost, mnuResetHost, mnuResetDependents, mnuSimulate, mnuDisableHost, mnuPopupSound,
                     mnuViewInLog})
    a->setEnabled(host != nullptr);
  mnuCancelEmail->setVisible(host && HostHasQueuedMail(*host));
  mnuSimulate->setChecked(host && host->SimulatedFailureUntil != 0);
  mnuResetDependents->setVisible(host && !FMonitor.Hosts().Dependants(host->ID).empty());
  if (host) mnuTestHost->setEnabled(!host->RunningTest);
  const int checked = host ? CheckedDisableItem(host->DisabledUntil, now) : -1;
  for (int i = 0; i < mnuDisableItems.size(); ++i) mnuDisableItems[i]->setChecked(i == checked);
  mnuVOnDown->setChecked(host && host->AlertWindow);
  mnuAOnDown->setChecked(host && host->GlobalOfflineSound);
  mnuVOnUp->setChecked(host && host->OnlinePopup);
  mnuAOnUp->setChecked(host && host->GlobalOnlineSound);
  const int style = static_cast<int>(FModel->ViewStyle());
  for (int i = 0; i < mnuViewStyles.size(); ++i) mnuViewStyles[i]->setChecked(i == style);
  mnuSendEmail->setEnabled(FMonitor.Alerts().MailRouteConfigured());
  // Opened from the alert window: its hosts are not the list's, so neither are the list's items.
  const bool fromAlertWindow = FMenuHostID >= 0;
  mnuDisableHost->setVisible(!fromAlertWindow);
  mnuViewAsItem->setVisible(!fromAlertWindow);
  FHostActions->Prepare(host, fromAlertWindow ? THostActionsMenu::TOrigin::AlertWindow
                                              : THostActionsMenu::TOrigin::HostList);
  mnuTraceRoute->setEnabled(host != nullptr);
  mnuSendMagicWakeup->setEnabled(host && !host->MACAddress.empty() && host->MACAddress != "-");
  PreparePluginItems(host);
}

void TfrmCorvale::PreparePluginItems(const THost* host) {
  for (QAction* action : FPluginMenuItems) {
    pmActions->removeAction(action);
    action->deleteLater();
  }
  FPluginMenuItems.clear();
  if (!host) return;
  const std::int32_t id = host->ID;
  const TTestKind kind = host->TestKind;
  for (const auto& item : FMonitor.Plugins().MenuItems(FMonitor.Hosts().FindByID(id), id, kind)) {
    auto* action = new QAction(QString::fromLatin1(item.Caption.data(), static_cast<qsizetype>(item.Caption.size())), pmActions);
    connect(action, &QAction::triggered, this, [this, item, id, kind] { FMonitor.Plugins().PerformMenuItem(item, id, kind); });
    pmActions->insertAction(mnuSendMagicWakeup, action);
    FPluginMenuItems.push_back(action);
  }
}

void TfrmCorvale::btnResetClick(Qt::KeyboardModifiers modifiers) { FMonitor.ResetAllHosts(ResetDepth(modifiers)); }

void TfrmCorvale::ResetHostStatusClick(Qt::KeyboardModifiers modifiers) {
  const int index = SelectedHostIndex();
  if (index >= 0) FMonitor.ResetHostStatus(index, ResetDepth(modifiers));
}

void TfrmCorvale::ResetDependentHostsClick(Qt::KeyboardModifiers modifiers) {
  const int index = SelectedHostIndex();
  if (index >= 0) FMonitor.ResetDependentHosts(index, ResetDepth(modifiers));
}

void TfrmCorvale::DisableItemClick(int item) {
  const int index = SelectedHostIndex();
  const THost* host = FMonitor.Hosts().Items(index);
  if (!host || item < 0 || item >= static_cast<int>(DisableItems.size())) return;
  // The check mark follows the host's state now, not the menu's state when it opened.
  const bool checked = CheckedDisableItem(host->DisabledUntil, FMonitor.Clock().Now()) == item;
  if (item == 0) FMonitor.DisableHost(index, checked);
  else FMonitor.DisableHostFor(index, DisableItems[static_cast<std::size_t>(item)].Minutes, checked);
}

void TfrmCorvale::ToggleHostFlag(bool THost::*flag, const char* where) {
  FMonitor.UpdateHost(SelectedHostIndex(), [flag](THost& host) { host.*flag = !(host.*flag); }, where);
}

void TfrmCorvale::SetTesting(bool on) {
  FMonitor.SetTestingOn(on);
  UpdateTestingControls(FMonitor.TestingOn());
}

void TfrmCorvale::btnRefreshClick() {
  if (pcCorvale->currentWidget() == tsPing) FMonitor.RefreshAllHosts();
  else if (pcCorvale->currentWidget() == tsRemote) pnlRemote->Refresh();
  else if (pcCorvale->currentWidget() == tsLocal) pnlLocal->Refresh();
}

// ---- e-mail

TAlertQueue* TfrmCorvale::MailQueue() const {
  auto* alerts = dynamic_cast<TAlerts*>(&FMonitor.Alerts());
  return alerts ? &alerts->Queue() : nullptr;
}

bool TfrmCorvale::HostHasQueuedMail(const THost& host) const {
  const TAlertQueue* queue = MailQueue();
  if (!queue || queue->QueuedCount() == 0) return false;
  for (const auto& entry : queue->Entries())
    if (entry->HostID == host.ID) return true;
  return false;
}

void TfrmCorvale::CancelPendingEmailClick() {
  if (TAlertQueue* queue = MailQueue()) queue->CancelPendingEmail(SelectedHost());
}

void TfrmCorvale::btnAlertClick() {
  TAlertQueue* queue = MailQueue();
  if (!queue) return;
  QStringList texts;
  for (const auto& record : FMonitor.Hosts().Records()) {
    texts.append(QString::fromLatin1(record->OfflineRecipients.c_str()));
    texts.append(QString::fromLatin1(record->OnlineRecipients.c_str()));
  }
  TfrmQuickMsg dialog(DistinctRecipients(texts), FLastQuickMsg, this);
  if (FQuickMsgHook) FQuickMsgHook(dialog);
  else dialog.exec();
  if (dialog.result() != QDialog::Accepted || !dialog.SendEnabled()) return;
  FLastQuickMsg = dialog.Message();
  // Queue texts are single-byte: characters beyond Latin-1 become "?".
  queue->QueueAlert(FLastQuickMsg.Recipient.toLatin1().toStdString(), FLastQuickMsg.Subject.toLatin1().toStdString(),
                    FLastQuickMsg.Body.toLatin1().toStdString(), 0, 0, nullptr, 3, -1, false);
}
