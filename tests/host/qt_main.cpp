// GoogleTest main with a QApplication, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/fileversion.h"

// The test program's own version, to check how the controller composes it.
TAV_VERSION_NOTE(10, 2, 3, 4, 1, 2, 0, 0);

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
