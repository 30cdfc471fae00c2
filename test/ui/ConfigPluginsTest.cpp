// The configuration dialog's plug-in parts: the plug-in list on "Information" and the
// plug-in's check of a host's parameter, and the plug-ins' items of the host menu.
#include <algorithm>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

#include "core/THostList.h"
#include "ui/ConfigFixture.h"
#include "ui/TConfigHostsPage.h"

namespace {

// Set before the monitor starts, which loads the plug-ins.
struct TPluginEnvironment {
  testsupport::TScopedEnv Plugins{"CORVALE_PLUGIN_DIR", std::string(CORVALE_BIN_DIR) + "/../test/plugins"};
  testsupport::TScopedEnv Runner{"CORVALE_PLUGIN_RUNNER", std::string(CORVALE_BIN_DIR) + "/corvale-plugin-runner"};
};

class ConfigPluginsTest : private TPluginEnvironment, public ConfigFixture {};

}  // namespace

TEST_F(ConfigPluginsTest, PluginListAndParameterCheck) {
  ASSERT_TRUE(Started);
  auto record = M->Hosts().NewRecord(FClock.Now());
  record->DisplayName = "Checked";
  record->Address = "127.0.0.1";
  record->TestKind = TestPlugin + 1;
  record->PluginParam = "fine";
  M->InsertHost(0, std::move(record));

  auto d = Open(TfrmCorvaleConfig::pgInfo);
  ASSERT_EQ(d->lvPlugins->topLevelItemCount(), 2);
  EXPECT_EQ(d->lvPlugins->topLevelItem(0)->text(0), "Alpha");
  EXPECT_EQ(d->lvPlugins->topLevelItem(0)->text(1), "Test");
  EXPECT_EQ(d->lvPlugins->topLevelItem(0)->text(2), "Alpha 1, Alpha 2");
  d->lvPlugins->setCurrentItem(d->lvPlugins->topLevelItem(1));
  EXPECT_FALSE(d->btnPluginSettings->isEnabled());  // the test plug-ins have no ConfigurePlugin

  TConfigHostsPage& page = *d->Hosts;
  const auto found = page.lbHosts->findItems("Checked", Qt::MatchStartsWith);
  ASSERT_EQ(found.size(), 1);
  page.lbHosts->setCurrentItem(found.front());
  found.front()->setSelected(true);
  ASSERT_EQ(page.cbPluginParam->currentText(), "fine");
  // A value the plug-in refuses: the warning with its reason; Cancel puts back the last
  // valid value.
  QString warning;
  Ask.MessageAnswer = [&](TDialogAsk::TKind, const QString&, const QString& text) {
    warning = text;
    return QMessageBox::Cancel;
  };
  page.cbPluginParam->setEditText("bad");
  emit page.cbPluginParam->lineEdit()->editingFinished();
  EXPECT_EQ(warning, "The data you have provided for the test is not valid: bad is bad\r\n\r\nWould you like to try again?");
  EXPECT_EQ(page.cbPluginParam->currentText(), "fine");
  warning.clear();
  page.cbPluginParam->setEditText("better");
  emit page.cbPluginParam->lineEdit()->editingFinished();
  EXPECT_TRUE(warning.isEmpty());
  d->reject();
}

// A plug-in's items sit right after "Trace Route", are made anew at each opening, and
// reach the plug-in with the host.
TEST_F(ConfigPluginsTest, PluginMenuItemsFollowTraceRouteAndReachThePlugin) {
  ASSERT_TRUE(Started);
  auto record = M->Hosts().NewRecord(FClock.Now());
  record->DisplayName = "Menu host";
  record->Address = "127.0.0.1";
  const std::int32_t id = record->ID;
  M->InsertHost(0, std::move(record));
  W->SelectHostIndex(0);
  const QString caption = QString("Check host %1").arg(id);
  for (int opening = 0; opening < 2; ++opening) {
    W->PreparePopup();
    const QList<QAction*> actions = W->pmActions->actions();
    const qsizetype trace = actions.indexOf(W->mnuTraceRoute);
    ASSERT_GE(trace, 0);
    ASSERT_LT(trace + 1, actions.size());
    EXPECT_EQ(actions[trace + 1]->text(), caption);
    EXPECT_EQ(std::count_if(actions.begin(), actions.end(), [&](QAction* a) { return a->text() == caption; }), 1);
  }
  W->pmActions->actions()[W->pmActions->actions().indexOf(W->mnuTraceRoute) + 1]->trigger();
  bool logged = false;
  for (const TLogLine& line : M->Log().Lines()) logged = logged || line.Text.find("[Beta] menu item 0 chosen") != std::string::npos;
  EXPECT_TRUE(logged);
}
