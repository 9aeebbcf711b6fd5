// The end-to-end suite runs a Qt application of its own (the video client's windows live in the
// test process) on the X display, so that native windows and their pixels are real.
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") != nullptr) qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
