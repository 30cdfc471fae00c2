// Every test executable runs inside a QCoreApplication so that code using Qt's event
// loop (timers, local sockets, queued calls) can be tested without a display.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const testsupport::TPrivateConfigHome configHome;
  return RUN_ALL_TESTS();
}
