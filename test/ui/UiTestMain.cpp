// The widget tests run inside a QApplication (pixmaps, fonts and widgets need one);
// start them with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
