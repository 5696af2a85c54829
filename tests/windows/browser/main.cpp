// The browser engine's settings must be in place before the application object exists, so this
// executable brings its own main.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "windows/browser/browser_environment.h"

int main(int argc, char** argv) {
  PrepareBrowserEnvironment();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
