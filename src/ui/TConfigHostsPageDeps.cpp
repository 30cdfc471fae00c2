// The "Dependencies" tab of the "Hosts" page, and the choosers and sub-dialogs the
// editor's buttons open.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>

#include <algorithm>

#include "common/Fields.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "ui/ConfigHostsText.h"
#include "ui/TConfigHostsPage.h"
#include "ui/TDialogAsk.h"
#include "ui/TfrmCheckList.h"
#include "ui/TfrmHTTPSettings.h"

namespace {

bool InList(const std::string& list, const std::string& idText) { return ListHasItem(list, idText, ';'); }

// Whether making parent a parent of host would make host its own ancestor.
bool WouldLoop(const THost& host, const THost& parent) {
  return &host == &parent || InList(parent.Ancestors, host.IDText());
}

Qt::CheckState StateOf(size_t count, size_t of) {
  if (count == 0) return Qt::Unchecked;
  return count == of ? Qt::Checked : Qt::PartiallyChecked;
}

QString TextOf(const QWidget* box) {
  if (auto* edit = qobject_cast<const QLineEdit*>(box)) return edit->text();
  if (auto* combo = qobject_cast<const QComboBox*>(box)) return combo->currentText();
  return {};
}

void SetTextOf(QWidget* box, const QString& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(box)) edit->setText(text);
  if (auto* combo = qobject_cast<QComboBox*>(box)) {
    for (int i = combo->count() - 1; i >= 0; --i)
      if (combo->itemData(i, MarkerRole).toBool()) combo->removeItem(i);
    combo->setEditText(text);
  }
}

// The program of a command line (its first blank-separated field, double quotes
// honoured) and the arguments after it.
std::pair<QString, QString> SplitCommand(const QString& command) {
  const QString text = command.trimmed();
  if (text.startsWith('"')) {
    const int close = text.indexOf('"', 1);
    if (close < 0) return {text.mid(1), {}};
    return {text.mid(1, close - 1), text.mid(close + 1).trimmed()};
  }
  const int blank = text.indexOf(' ');
  if (blank < 0) return {text, {}};
  return {text.left(blank), text.mid(blank + 1).trimmed()};
}

}  // namespace

void TConfigHostsPage::FillDependencies() {
  const QSignalBlocker blockOffline(ckbOfflineHosts);
  const QSignalBlocker blockDependent(ckbDependentHosts);
  ckbOfflineHosts->clear();
  ckbDependentHosts->clear();
  const std::vector<THost*> hosts = EditedHosts();
  if (hosts.empty()) return;
  FWorking.RecomputeAllAncestors();
  for (const auto& record : FWorking.Records()) {
    if (record->IsGroup()) continue;
    const QString label = Latin1(HostLabel(*record, FContext.PluginTestNames));
    if (record->Dependable) {
      auto* item = new QListWidgetItem(label, ckbOfflineHosts);
      item->setData(IDRole, record->ID);
    }
    const bool dependent = std::any_of(hosts.begin(), hosts.end(),
                                       [&](const THost* host) { return InList(record->Parents, host->IDText()); });
    if (dependent) {
      auto* item = new QListWidgetItem(label, ckbDependentHosts);
      item->setData(IDRole, record->ID);
    }
  }
  UpdateDependencyStates();
}

void TConfigHostsPage::UpdateDependencyStates() {
  const QSignalBlocker blockOffline(ckbOfflineHosts);
  const QSignalBlocker blockDependent(ckbDependentHosts);
  const std::vector<THost*> hosts = EditedHosts();
  for (int row = 0; row < ckbOfflineHosts->count(); ++row) {
    QListWidgetItem* item = ckbOfflineHosts->item(row);
    const THost* parent = FWorking.Items(FWorking.FindByID(item->data(IDRole).toInt()));
    if (!parent) continue;
    size_t count = 0;
    bool loops = false;
    for (const THost* host : hosts) {
      if (InList(host->Parents, parent->IDText())) ++count;
      loops = loops || (host != parent && WouldLoop(*host, *parent));
    }
    const Qt::CheckState state = StateOf(count, hosts.size());
    const bool self = hosts.size() == 1 && hosts.front() == parent;
    item->setCheckState(state);
    // A tick that would close a loop is refused up front; a tick already there may be cleared.
    Qt::ItemFlags flags = Qt::ItemIsUserCheckable | Qt::ItemIsSelectable;
    if ((!loops && !self) || state != Qt::Unchecked) flags |= Qt::ItemIsEnabled;
    item->setFlags(flags);
    item->setToolTip(self    ? tr("A host cannot depend on itself.")
                     : loops ? tr("This host depends on a selected host already; it cannot also be its parent.")
                             : QString());
  }
  for (int row = 0; row < ckbDependentHosts->count(); ++row) {
    QListWidgetItem* item = ckbDependentHosts->item(row);
    const THost* dependent = FWorking.Items(FWorking.FindByID(item->data(IDRole).toInt()));
    if (!dependent) continue;
    size_t count = 0;
    for (const THost* host : hosts)
      if (InList(dependent->Parents, host->IDText())) ++count;
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setCheckState(StateOf(count, hosts.size()));
  }
}

void TConfigHostsPage::OfflineHostChanged(QListWidgetItem* item) {
  if (FLoading || !item) return;
  const THost* parent = FWorking.Items(FWorking.FindByID(item->data(IDRole).toInt()));
  if (!parent) return;
  const std::string idText = parent->IDText();
  const bool ticked = item->checkState() == Qt::Checked;
  for (THost* host : EditedHosts()) {
    if (host == parent) continue;
    if (ticked) {
      if (!WouldLoop(*host, *parent)) host->Parents = CleanDelimited(ListAddItem(host->Parents, idText, ';'));
    } else {
      host->Parents = CleanDelimited(ListRemoveItem(host->Parents, idText, ';'));
    }
    FWorking.RecomputeAllAncestors();
  }
  UpdateDependencyStates();
}

void TConfigHostsPage::DependentHostChanged(QListWidgetItem* item) {
  if (FLoading || !item) return;
  THost* dependent = FWorking.Items(FWorking.FindByID(item->data(IDRole).toInt()));
  if (!dependent) return;
  const bool ticked = item->checkState() == Qt::Checked;
  for (const THost* host : EditedHosts()) {
    if (ticked) {
      if (!WouldLoop(*dependent, *host))
        dependent->Parents = CleanDelimited(ListAddItem(dependent->Parents, host->IDText(), ';'));
    } else {
      dependent->Parents = CleanDelimited(ListRemoveItem(dependent->Parents, host->IDText(), ';'));
    }
    FWorking.RecomputeAllAncestors();
  }
  // The entry stays listed (cleared) until the selection changes, so that the user can
  // tick it again.
  UpdateDependencyStates();
}

void TConfigHostsPage::EditRecipients(QWidget* box) {
  if (!CommitEdits()) return;
  const QString current = TextOf(box) == QString::fromLatin1(MultipleValuesText) ? QString() : TextOf(box);
  const std::optional<QString> edited = EditRecipientList(this, FAsk, current, KnownRecipients());
  if (!edited) return;
  SetTextOf(box, *edited);
  CommitEdits();
}

void TConfigHostsPage::ChooseProgram(QWidget* box) {
  if (!CommitEdits()) return;
  const QString current = TextOf(box) == QString::fromLatin1(MultipleValuesText) ? QString() : TextOf(box);
  const auto [program, arguments] = SplitCommand(current);
  const std::optional<QString> chosen =
      FAsk.OpenFile(this, tr("Select a Program..."), program,
                    tr("Executables and Shortcuts (*.lnk *.exe *.desktop *.sh);;Executables (*.exe *.sh);;"
                       "Shortcuts (*.lnk *.desktop);;All Files (*)"));
  if (!chosen || chosen->isEmpty()) return;
  QString command = chosen->contains(' ') ? '"' + *chosen + '"' : *chosen;
  if (!arguments.isEmpty()) command += ' ' + arguments;
  SetTextOf(box, command);
  CommitEdits();
}

void TConfigHostsPage::ChooseSound(QWidget* box) {
  if (!CommitEdits()) return;
  const QString current = TextOf(box) == QString::fromLatin1(MultipleValuesText) ? QString() : TextOf(box);
  const std::optional<QString> chosen =
      FAsk.OpenFile(this, tr("Select a Sound File..."), current, tr("Wave Files (*.wav);;All Files (*)"));
  if (!chosen || chosen->isEmpty()) return;
  SetTextOf(box, *chosen);
  CommitEdits();
}

void TConfigHostsPage::EditRequest(int which) {
  if (!CommitEdits()) return;
  const std::vector<THost*> hosts = EditedHosts();
  if (hosts.empty()) return;
  THTTPReq THost::*member = which == 0   ? &THost::HTTPTest
                            : which == 1 ? &THost::OfflineNotification
                                         : &THost::OnlineNotification;
  THTTPReq request = hosts.front()->*member;
  if (!EditHTTPSettings(this, FAsk, request, which == 0, KnownRecipients())) return;
  // The request edited is the first host's; OK gives it to every selected host.
  for (THost* host : hosts) host->*member = request;
  if (which == 0)
    for (THost* host : hosts)
      if (int line = LineOfID(host->ID); line >= 0) lbHosts->item(line)->setText(LineText(*host));
}
