// Test entry: a QApplication on the offscreen platform and a private HOME, so the Documents
// folder of every test run is its own; it is removed when the run ends. (Windows: the user's.)
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
#ifdef _WIN32
  // The Documents folder is the user's, and the tests empty it: they run only where the caller
  // says that folder is a throwaway one (scripts/wine_tests.sh: a private Wine prefix whose user
  // folders are plain directories, not links into the Unix home).
  const bool listing = argc > 1 && std::string(argv[1]) == "--gtest_list_tests";
  if (!listing && !qEnvironmentVariableIsSet("VANTOR_TEST_THROWAWAY_DOCUMENTS")) {
    std::fprintf(stderr,
                 "pelion_tests: these tests empty the Documents folder; run them in a throwaway "
                 "profile with VANTOR_TEST_THROWAWAY_DOCUMENTS=1\n");
    return 2;
  }
  const std::string home;
  const bool ownHome = false;
#else
  std::string home = "/tmp/pelion-home-XXXXXX";
  const bool ownHome = mkdtemp(home.data()) != nullptr;
  if (ownHome) {
    setenv("HOME", home.c_str(), 1);
  }
#endif
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
