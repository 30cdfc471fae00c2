#include "ui/TfrmWaitShutdown.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>

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

  // Dragged by its text, as it has no title bar.
  window.move(100, 100);
  const auto mouse = [&](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(window.lblWaiting->mapFromGlobal(global)), QPointF(global), Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(window.lblWaiting, &event);
  };
  const QPoint start = window.lblWaiting->mapToGlobal(QPoint(5, 5));
  mouse(QEvent::MouseButtonPress, start, Qt::LeftButton);
  mouse(QEvent::MouseMove, start + QPoint(30, 40), Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, start + QPoint(30, 40), Qt::NoButton);
  EXPECT_EQ(window.pos(), QPoint(130, 140));

  running = {"Ping a", "Echo b"};
  window.Refresh();
  ASSERT_EQ(window.lbTasks->count(), 2);
  EXPECT_EQ(window.lbTasks->item(0)->text(), "Echo b (1)");
  EXPECT_EQ(window.lbTasks->item(1)->text(), "Ping a (1)");
  running.clear();
  window.Refresh();
  EXPECT_EQ(window.lbTasks->count(), 0);
}
