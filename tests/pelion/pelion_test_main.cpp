// Test entry: a QApplication on the offscreen platform and a private HOME, so the Documents
// folder of every test run is its own; it is removed when the run ends.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  std::string home = "/tmp/pelion-home-XXXXXX";
  const bool ownHome = mkdtemp(home.data()) != nullptr;
  if (ownHome) {
    setenv("HOME", home.c_str(), 1);
  }
  int result = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelion"));
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  if (ownHome) {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
  return result;
}
