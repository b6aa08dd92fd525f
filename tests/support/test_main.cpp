// SPDX-License-Identifier: GPL-2.0-or-later
// Test entry: a QGuiApplication on the offscreen platform, so that QImage
// text drawing and the Qt widgets work without a display.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
