#include "ui/TfrmWaitShutdown.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>

TEST(WaitShutdown, ListsEachRunningTaskOnceWithItsCount) {
  EXPECT_EQ(CountedTaskNames({"Ping router", "HTTP web", "Ping router", "Ping router", "Trace"}),
            (QStringList{"HTTP web (1)", "Ping router (3)", "Trace (1)"}));
  EXPECT_TRUE(CountedTaskNames({}).isEmpty());

  std::vector<std::string> running{"Ping a", "Ping a"};
  TfrmWaitShutdown window([&] { return running; });
  EXPECT_EQ(window.lblWaiting->text(), "Corvale is waiting for completion of...");
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
  window.show();
  EXPECT_EQ(window.lbTasks->count(), 1);
  EXPECT_EQ(window.lbTasks->item(0)->text(), "Ping a (2)");
  // The corners are cut away.
  EXPECT_FALSE(window.mask().contains(QPoint(0, 0)));
  EXPECT_TRUE(window.mask().contains(window.rect().center()));

  running = {"Ping a", "Echo b"};
  window.Refresh();
  ASSERT_EQ(window.lbTasks->count(), 2);
  EXPECT_EQ(window.lbTasks->item(0)->text(), "Echo b (1)");
  EXPECT_EQ(window.lbTasks->item(1)->text(), "Ping a (1)");
  running.clear();
  window.Refresh();
  EXPECT_EQ(window.lbTasks->count(), 0);
}
