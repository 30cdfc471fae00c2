// The widget tests run inside a QApplication (pixmaps, fonts and widgets need one), on
// the offscreen platform unless QT_QPA_PLATFORM names another: the build lists the tests
// by running this program, with no display and none of the test environment.
#include <QApplication>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const testsupport::TPrivateConfigHome configHome;
  return RUN_ALL_TESTS();
}
