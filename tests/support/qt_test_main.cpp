// GoogleTest main for Qt test programs: the application object exists before any test runs.
// The platform comes from the environment (CTest sets QT_QPA_PLATFORM=offscreen).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest's discovery right after the build) needs no application object, and the
  // build's environment has neither a display nor the offscreen platform.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
