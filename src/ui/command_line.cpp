// The programs' --help and --version (see command_line.h). Plain text, no Qt.
#include "ui/command_line.h"

#include <algorithm>
#include <cstdio>

#include "vantor_version.h"

namespace vantor::ui {

namespace {

constexpr ProgramOption kHelpOption{"-h, --help", "Show this help and exit."};
constexpr ProgramOption kVersionOption{"--version", "Show the version and exit."};

void OptionLine(std::string& text, const ProgramOption& option) {
  char line[256];
  std::snprintf(line, sizeof line, "  %-16s %s\n", option.name, option.help);
  text += line;
}

}  // namespace

std::string HelpText(const ProgramInfo& info) {
  std::string text = "Usage: " + std::string(info.program) + " [options]\n\n";
  text += std::string(info.description) + "\n\nOptions:\n";
  for (const ProgramOption& option : info.options)
    OptionLine(text, option);
  OptionLine(text, kHelpOption);
  OptionLine(text, kVersionOption);
  return text;
}

std::optional<int> AnswerInfoOptions(const std::vector<std::string>& args, const ProgramInfo& info,
                                     std::ostream& out) {
  const auto has = [&args](const char* option) {
    return std::find(args.begin(), args.end(), option) != args.end();
  };
  if (has("--help") || has("-h")) {
    PrepareConsoleOutput();
    out << HelpText(info) << std::flush;
    return 0;
  }
  if (has("--version")) {
    PrepareConsoleOutput();
    out << info.program << " " << kVersion << "\n" << std::flush;
    return 0;
  }
  return std::nullopt;
}

}  // namespace vantor::ui
