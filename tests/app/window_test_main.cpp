// The window tests run inside the program's own application object, off screen.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "app/loader_application.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  app::TLoaderApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
