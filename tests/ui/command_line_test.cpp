// The programs' --help and --version, answered before any window exists.
#include "ui/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "vantor_version.h"

namespace vantor::ui {
namespace {

constexpr ProgramOption kOptions[] = {{"--simulator", "Start a simulated device."}};
constexpr ProgramInfo kProgram{"quorix", "Writes one file.", kOptions};

TEST(CommandLine, AnswersHelpAndVersionAndLetsEverythingElseStart) {
  const std::string help = HelpText(kProgram);
  const std::string version = std::string("quorix ") + kVersion + "\n";
  struct Case {
    std::vector<std::string> args;
    std::optional<int> code;
    std::string out;
  };
  const Case cases[] = {
      {{"--version"}, 0, version},
      {{"--simulator", "--version"}, 0, version},
      {{"--help"}, 0, help},
      {{"-h", "--version"}, 0, help},
      {{}, std::nullopt, ""},
      {{"--simulator"}, std::nullopt, ""},
      {{"-version"}, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(AnswerInfoOptions(c.args, kProgram, out), c.code) << testing::PrintToString(c.args);
    EXPECT_EQ(out.str(), c.out) << testing::PrintToString(c.args);
  }
}

TEST(CommandLine, HelpNamesEveryOption) {
  const std::string help = HelpText(kProgram);
  EXPECT_EQ(help.rfind("Usage: quorix [options]\n\nWrites one file.\n\nOptions:\n", 0), 0u) << help;
  for (const char* option : {"--simulator", "--help", "--version"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace vantor::ui
