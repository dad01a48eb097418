// "vantor report" over a record file: units, yield, failures by code with their meaning, units
// per hour, the range of unit numbers, a number on two units (the alarm), a line loaded twice,
// and a file that is not a record.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "production/record.h"
#include "production/record_reader.h"
#include "support/flat_json.h"
#include "support/record_line.h"
#include "support/test_files.h"

namespace vantor::cli {
namespace {

namespace fs = std::filesystem;
using production::AppendRecordLine;
using production::ReadRecordFile;
using production::RecordFile;
using vantor::testing::ReadFileText;
using vantor::testing::RecordLine;
using vantor::testing::TempFolder;
using vantor::testing::WriteFileText;

std::string Report(const std::string& path, bool json, int& code) {
  std::ostringstream out, err;
  std::vector<std::string> args{"vantor", "report", path};
  if (json)
    args.push_back("--json");
  code = RunCli(args, out, err, false);
  return out.str() + err.str();
}

TEST(ProductionReportTest, SumsUpARecordFile) {
  const TempFolder folder;
  const fs::path path = folder / "record.jsonl";
  WriteFileText(path, RecordLine("a", 0, 0, 100) + "\n" + RecordLine("b", 10, -8540, 101) + "\n" +
                          RecordLine("c", 20, 0, 102) + "\n" +
                          // the same record loaded twice: counted once
                          RecordLine("c", 20, 0, 102) + "\n" + "\n" +
                          RecordLine("d", 29, -8540, std::nullopt) + "\n" +
                          RecordLine("e", 59, 0, 104) + "\n");
  int code = 0;
  std::string text = Report(path.string(), false, code);
  EXPECT_EQ(code, 0) << text;
  for (const char* expected : {"units           5", "succeeded       3", "yield           60.0 %",
                               "units per hour  5.0", "unit numbers    100 to 104 (4 units)",
                               "repeated lines  1", "-8540      2  the device stopped answering"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_EQ(text.find("ALARM"), std::string::npos) << text;

  // Another unit with number 101: the alarm, exit 1, in the text and in JSON.
  std::ofstream(path, std::ios::app) << RecordLine("f", 60, 0, 101) << "\n";
  text = Report(path.string(), false, code);
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("ALARM: unit numbers given to more than one unit\n  101  2 units"),
            std::string::npos)
      << text;
  text = Report(path.string(), true, code);
  EXPECT_EQ(code, 1);
  const auto fields = testing::FlattenJson(text.substr(0, text.find('\n')));
  ASSERT_TRUE(fields) << text;
  EXPECT_EQ(fields->at("units"), "6");
  EXPECT_EQ(fields->at("failed"), "2");
  EXPECT_EQ(fields->at("failures.0.code"), "-8540");
  EXPECT_EQ(fields->at("failures.0.units"), "2");
  EXPECT_EQ(fields->at("numbers.lowest"), "100");
  EXPECT_EQ(fields->at("numbers.highest"), "104");
  EXPECT_EQ(fields->at("numbers.seen_twice.0.number"), "101");

  std::ofstream(path, std::ios::app) << "{\"started\":1}\n";  // whole, but no record
  text = Report(path.string(), false, code);
  EXPECT_EQ(code, 2);
  EXPECT_NE(text.find(":9: not a record"), std::string::npos) << text;
}

// The yield counts only units that were sent anything: what never started (no unit number, a
// port another program holds, cancelled before anything went) is counted apart with its reason.
// A line written before records told "sent" counts as sent unless it got no unit number.
TEST(ProductionReportTest, YieldCountsOnlyUnitsThatWereSentAnything) {
  const TempFolder folder;
  const fs::path path = folder / "record.jsonl";
  const auto old = [](std::string line) {
    const std::size_t at = line.find(",\"sent\":");
    return line.erase(at, line.find(',', at + 1) - at);
  };
  WriteFileText(path, RecordLine("good", 0, 0, 100) + "\n" +
                          RecordLine("no number", 1, -9100, std::nullopt, false) + "\n" +
                          RecordLine("busy port", 2, 16, 101, false) + "\n" +
                          RecordLine("cancelled", 3, 1223, 102, false) + "\n" +
                          RecordLine("stalled", 4, -8540, 103) + "\n" +
                          old(RecordLine("old, no number", 5, -9100, std::nullopt, false)) + "\n" +
                          old(RecordLine("old, refused", 6, -9978, 104, true)) + "\n");
  std::size_t sentMembers = 0;
  for (std::size_t at = 0; (at = ReadFileText(path).find("\"sent\":", at)) != std::string::npos;
       ++at)
    ++sentMembers;
  ASSERT_EQ(sentMembers, 5u);  // the two old lines have none
  int code = 0;
  std::string text = Report(path.string(), false, code);
  EXPECT_EQ(code, 0) << text;
  for (const char* expected :
       {"units           3", "succeeded       1", "failed          2", "yield           33.3 %",
        "not started     4", "unit numbers    100 to 104 (5 units)",
        "    -9100      2  no unit number could be taken", "       16      1  system error 16",
        "     1223      1  cancelled", "    -8540      1  the device stopped answering"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  text = Report(path.string(), true, code);
  const auto fields = testing::FlattenJson(text.substr(0, text.find('\n')));
  ASSERT_TRUE(fields) << text;
  EXPECT_EQ(fields->at("units"), "3");
  EXPECT_EQ(fields->at("yield_percent"), "33.3");
  EXPECT_EQ(fields->at("not_started"), "4");
  EXPECT_EQ(fields->at("not_started_by.0.code"), "-9100");
  EXPECT_EQ(fields->at("not_started_by.0.records"), "2");
  EXPECT_EQ(fields->at("not_started_by.2.code"), "1223");
  EXPECT_EQ(fields->at("not_started_by.2.meaning"), "cancelled");
}

TEST(ProductionReportTest, ATornLineIsSkippedAndEndedBeforeTheNextAppend) {
  const TempFolder folder;
  const fs::path path = folder / "record.jsonl";
  const std::string torn = RecordLine("c", 20, 0, 102).substr(0, 40);
  WriteFileText(path,
                RecordLine("a", 0, 0, 100) + "\n" + RecordLine("b", 10, -8540, 101) + "\n" + torn);
  int code = 0;
  std::string text = Report(path.string(), false, code);
  EXPECT_EQ(code, 0) << text;
  EXPECT_NE(text.find("units           2"), std::string::npos) << text;
  EXPECT_NE(text.find(path.string() + ":3: a torn line"), std::string::npos) << text;
  RecordFile read;
  std::string error;
  ASSERT_TRUE(ReadRecordFile(path.string(), read, error)) << error;
  EXPECT_EQ(read.lines.size(), 2u);

  const std::string next = RecordLine("d", 30, 0, 103);
  ASSERT_TRUE(AppendRecordLine(path.string(), next, error)) << error;
  const std::string content = ReadFileText(path);
  EXPECT_EQ(content.substr(content.size() - torn.size() - next.size() - 2),
            torn + "\n" + next + "\n");
  // Now in the middle, the torn line is still named and skipped: the file stays readable after a
  // power loss and the station's next append.
  text = Report(path.string(), false, code);
  EXPECT_EQ(code, 0) << text;
  EXPECT_NE(text.find("units           3"), std::string::npos) << text;
  EXPECT_NE(text.find(path.string() + ":3: a torn line"), std::string::npos) << text;
  // Garbage in the middle is no torn record: an error, as any line that is not a record.
  WriteFileText(
      path, RecordLine("a", 0, 0, 100) + "\n{\"id\": x}\n" + RecordLine("e", 40, 0, 104) + "\n");
  text = Report(path.string(), false, code);
  EXPECT_EQ(code, 2);
  EXPECT_NE(text.find(path.string() + ":2: not a record"), std::string::npos) << text;
  // A whole object without its newline is a record; one that is no record stays an error.
  WriteFileText(path, RecordLine("a", 0, 0, 100) + "\n" + RecordLine("e", 40, 0, 104));
  ASSERT_TRUE(ReadRecordFile(path.string(), read = {}, error)) << error;
  EXPECT_EQ(read.records.size(), 2u);
  EXPECT_TRUE(read.torn.empty());
  WriteFileText(path, RecordLine("a", 0, 0, 100) + "\n{\"id\":\"x\"}");
  EXPECT_FALSE(ReadRecordFile(path.string(), read = {}, error));
  EXPECT_NE(error.find(":2: not a record"), std::string::npos) << error;
}

}  // namespace
}  // namespace vantor::cli
