// Test entry: a QApplication on the offscreen platform and a private HOME, so the Documents
// folder of every test run is its own.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  std::string home = "/tmp/pelion-home-XXXXXX";
  if (mkdtemp(home.data()) != nullptr) {
    setenv("HOME", home.c_str(), 1);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pelion"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
