// TConfigHostsPage: the parameter box of a plug-in test.
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include <set>

#include "core/THost.h"
#include "core/THostList.h"
#include "ui/Latin1Text.h"
#include "ui/TConfigHostsPage.h"
#include "ui/TDialogAsk.h"

void TConfigHostsPage::FillPluginParams(TTestKind kind) {
  const int parameterKind = FContext.PluginParamKind ? FContext.PluginParamKind(kind) : 1;
  const QString current = cbPluginParam->currentText();
  std::vector<std::string> values;
  if (parameterKind == 1) {
    // The values the other hosts of the same test use.
    std::set<std::string> seen;
    for (const auto& record : FWorking.Records())
      if (record->TestKind == kind && !record->PluginParam.empty() && seen.insert(record->PluginParam).second)
        values.push_back(record->PluginParam);
  } else if ((parameterKind == 2 || parameterKind == 3) && FContext.PluginEntries) {
    values = FContext.PluginEntries(kind);
  }
  const QSignalBlocker block(cbPluginParam);
  cbPluginParam->clear();
  for (const std::string& value : values) cbPluginParam->addItem(Latin1(value));
  cbPluginParam->setEditable(parameterKind != 2);
  if (parameterKind != 2) {
    cbPluginParam->setEditText(current);
    // The box is edited again: reconnect its check, which the new line edit lacks.
    connect(cbPluginParam->lineEdit(), &QLineEdit::editingFinished, this, &TConfigHostsPage::CheckPluginParam,
            Qt::UniqueConnection);
  } else {
    cbPluginParam->setCurrentIndex(cbPluginParam->findText(current));
  }
  FLastValidParam = current;
}

void TConfigHostsPage::CheckPluginParam() {
  if (FLoading) return;
  const std::optional<TTestKind> kind = KindOfBox();
  const int parameterKind = kind && FContext.PluginParamKind ? FContext.PluginParamKind(*kind) : 1;
  const QString text = cbPluginParam->currentText();
  const bool checked = kind && IsPluginKind(*kind) && FContext.PluginParamError &&
                       (parameterKind == 1 || parameterKind == 3) && text != FLastValidParam;
  const std::optional<std::string> reason = checked ? FContext.PluginParamError(*kind, Latin1(text)) : std::nullopt;
  if (!reason) {
    FLastValidParam = text;
    CommitOnChange();
    return;
  }
  const int answer = FAsk.Message(this, TDialogAsk::TKind::Warning, tr("Corvale"),
                                  "The data you have provided for the test is not valid: " + Latin1(*reason) +
                                      "\r\n\r\n" + "Would you like to try again?",
                                  QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry);
  if (answer == QMessageBox::Retry) {
    cbPluginParam->setFocus();
    return;
  }
  cbPluginParam->setEditText(FLastValidParam);
  CommitOnChange();
}
