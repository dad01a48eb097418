// "vantor report" over a record file: units, yield, failures by code with their meaning, units
// per hour, the range of unit numbers, a number on two units (the alarm), a line loaded twice,
// and a file that is not a record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/cli.h"
#include "cli/report/production_report.h"
#include "cli/station/record.h"
#include "cli/station/record_reader.h"
#include "support/flat_json.h"

namespace vantor::cli {
namespace {

namespace fs = std::filesystem;
using std::chrono::minutes;
using std::chrono::system_clock;

std::string Line(const std::string& id, int minute, std::int32_t code,
                 std::optional<std::uint64_t> number) {
  DeviceRecord r;
  r.id = id;
  r.started = system_clock::time_point(std::chrono::hours(490000)) + minutes(minute);
  r.finished = r.started + std::chrono::seconds(30);
  r.port = "/dev/ttyUSB" + std::to_string(minute % 4);
  r.code = code;
  r.message = code == 0 ? "" : "통신에러 \n" + std::to_string(code);
  if (number)
    r.unit = device::UnitPatch{*number, 0x100010, {1, 2, 3, 4}};
  return FormatRecord(r);
}

std::string Report(const std::string& path, bool json, int& code) {
  std::ostringstream out, err;
  std::vector<std::string> args{"vantor", "report", path};
  if (json)
    args.push_back("--json");
  code = RunCli(args, out, err, false);
  return out.str() + err.str();
}

TEST(ProductionReportTest, SumsUpARecordFile) {
  const fs::path path = fs::temp_directory_path() / ("vantor-report-" + std::to_string(::getpid()));
  {
    std::ofstream out(path);
    out << Line("a", 0, 0, 100) << "\n"
        << Line("b", 10, -8540, 101) << "\n"
        << Line("c", 20, 0, 102) << "\n"
        << Line("c", 20, 0, 102) << "\n"  // the same record loaded twice: counted once
        << "\n"
        << Line("d", 29, -8540, std::nullopt) << "\n"
        << Line("e", 59, 0, 104) << "\n";
  }
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
  std::ofstream(path, std::ios::app) << Line("f", 60, 0, 101) << "\n";
  text = Report(path.string(), false, code);
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("ALARM: unit numbers given to more than one unit\n  101  2 units"),
            std::string::npos)
      << text;
  text = Report(path.string(), true, code);
  EXPECT_EQ(code, 1);
  const auto fields = FlattenJson(text.substr(0, text.find('\n')));
  ASSERT_TRUE(fields) << text;
  EXPECT_EQ(fields->at("units"), "6");
  EXPECT_EQ(fields->at("failed"), "2");
  EXPECT_EQ(fields->at("failures.0.code"), "-8540");
  EXPECT_EQ(fields->at("failures.0.units"), "2");
  EXPECT_EQ(fields->at("numbers.lowest"), "100");
  EXPECT_EQ(fields->at("numbers.highest"), "104");
  EXPECT_EQ(fields->at("numbers.seen_twice.0.number"), "101");

  std::ofstream(path, std::ios::app) << "{\"started\":\n";
  text = Report(path.string(), false, code);
  EXPECT_EQ(code, 2);
  EXPECT_NE(text.find(":9: not a record"), std::string::npos) << text;
  fs::remove(path);
}

TEST(ProductionReportTest, ReadsTimesAndRecordsBack) {
  std::int64_t ms = 0;
  ASSERT_TRUE(ParseIsoUtc("2026-12-10T04:38:13.125Z", ms));
  EXPECT_EQ(IsoUtc(system_clock::time_point(std::chrono::milliseconds(ms))),
            "2026-12-10T04:38:13.125Z");
  EXPECT_TRUE(ParseIsoUtc("1970-01-01T00:00:00.000Z", ms));
  EXPECT_EQ(ms, 0);
  EXPECT_FALSE(ParseIsoUtc("2026-12-10 04:38:13", ms));
  RecordSummary summary;
  std::string error;
  ASSERT_TRUE(SummarizeRecordLine(Line("x1", 3, -9978, 77), summary, error)) << error;
  EXPECT_EQ(summary.id, "x1");
  EXPECT_EQ(summary.code, -9978);
  EXPECT_EQ(summary.unit, 77u);
  EXPECT_EQ(summary.finishedMs - summary.startedMs, 30000);
  const auto fields = FlattenJson(Line("x2", 3, 0, std::nullopt));
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->at("unit"), "null");
  EXPECT_EQ(fields->at("images"), "0");
}

TEST(ProductionReportTest, CalendarTimesBothWays) {
  const std::pair<const char*, std::int64_t> times[] = {
      {"1970-01-01T00:00:00.000Z", 0},
      {"2026-12-10T04:38:13.125Z", 1796877493125},
      {"2028-02-29T23:59:59.999Z", 1835481599999},  // a leap day
      {"1969-12-31T23:59:59.999Z", -1},             // before 1970: the day before, not after
  };
  for (const auto& [text, expected] : times) {
    std::int64_t ms = 7;
    EXPECT_TRUE(ParseIsoUtc(text, ms)) << text;
    EXPECT_EQ(ms, expected) << text;
    EXPECT_EQ(IsoUtc(system_clock::time_point(std::chrono::milliseconds(expected))), text);
  }
  for (const char* bad :
       {"2026-02-30T00:00:00.000Z", "2026-13-01T00:00:00.000Z", "2026-12-10T24:00:00.000Z",
        "2026-12-10T04:60:13.125Z", "2026-12-10T04:38:13.125", "2026-12-10T04:38:13.12xZ",
        "2026-12-10T04:38:13+125Z", "+026-12-10T04:38:13.125Z", ""}) {
    std::int64_t ms = 0;
    EXPECT_FALSE(ParseIsoUtc(bad, ms)) << bad;
  }
}

// The line written and the summary given to the database agree, also for a port whose name is not
// UTF-8 (its bytes read as Latin-1), and the line is JSON through and through.
TEST(ProductionReportTest, RecordLineAndSummaryAgreeForAnyPortName) {
  DeviceRecord r;
  r.id = "0123456789abcdef0123456789abcdef";
  r.started = system_clock::time_point(std::chrono::milliseconds(1796877493125));
  r.finished = r.started + std::chrono::milliseconds(2500);
  r.port = "/dev/tty\xff\xe9-\"x\"";
  r.usb = UsbIdentity{"0403", "6001", "A\x80"};
  r.images = {RecordImage{"CODE", 0x13000, 4096, std::string(64, 'a')}};
  r.bytes = 4096;
  r.seconds = 2.49951;
  r.attempts = 2;
  r.verified = false;
  r.code = -9978;
  r.message = "통신에러 \n-9978";
  r.unit = device::UnitPatch{77, 0x100010, {0x4d, 0, 0, 0}};
  const std::string line = FormatRecord(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto fields = FlattenJson(line);
  ASSERT_TRUE(fields) << line;
  EXPECT_EQ(fields->at("port"), "/dev/tty\u00ff\u00e9-\"x\"");
  EXPECT_EQ(fields->at("usb.serial"), "A\u0080");
  EXPECT_EQ(fields->at("seconds"), "2.5");
  EXPECT_EQ(fields->at("verified"), "false");
  EXPECT_EQ(fields->at("images.0.address"), "0x013000");
  EXPECT_EQ(fields->at("unit.bytes"), "4d000000");
  EXPECT_EQ(fields->at("result.message"), r.message);
  // The members in the order the file has always had them.
  std::vector<std::string> order;
  for (const char* key : {"\"id\"", "\"started\"", "\"finished\"", "\"port\"", "\"usb\"",
                          "\"before\"", "\"after\"", "\"images\"", "\"bytes\"", "\"seconds\"",
                          "\"attempts\"", "\"verified\"", "\"result\"", "\"unit\""})
    order.push_back(key);
  std::size_t at = 0;
  for (const std::string& key : order) {
    const std::size_t found = line.find(key + ":", at);
    ASSERT_NE(found, std::string::npos) << key << " in " << line;
    at = found;
  }
  RecordSummary read;
  std::string error;
  ASSERT_TRUE(SummarizeRecordLine(line, read, error)) << error;
  EXPECT_EQ(read, SummarizeRecord(r));
  EXPECT_EQ(read.port, "/dev/tty\u00ff\u00e9-\"x\"");
  EXPECT_EQ(read.finishedMs - read.startedMs, 2500);
}

TEST(ProductionReportTest, RecordLinesAreJsonOrRefused) {
  const std::string time =
      "\"started\":\"2026-12-10T04:38:13.125Z\","
      "\"finished\":\"2026-12-10T04:38:14.125Z\"";
  RecordSummary summary;
  std::string error;
  // An escaped surrogate pair is one character, in UTF-8.
  ASSERT_TRUE(SummarizeRecordLine(
      "{\"port\":\"COM\\ud83d\\ude00\"," + time + ",\"result\":{\"code\":0}}", summary, error))
      << error;
  EXPECT_EQ(summary.port, "COM\U0001F600");
  const std::string malformed[] = {
      "{\"id\":\"a\"," + time + ",\"result\":{\"code\":abc}}",      // letters are no value
      "{\"id\":\"a\"," + time + ",\"result\":{\"code\":0}} x",      // something after it
      "{\"id\":\"a\"," + time + ",\"result\":{\"code\":0}",         // unclosed
      "{\"id\":\"\\ud83d\"," + time + ",\"result\":{\"code\":0}}",  // half a pair
      "{\"id\":\"a\"," + time + ",\"result\":{\"code\":1.5}}",      // no whole code
      "{\"id\":\"a\"," + time + ",\"result\":{\"code\":\"0\"}}",
      "{\"id\":\"a\"," + time + ",\"result\":{\"code\":4294967296}}",
      "{\"id\":\"a\",\"started\":\"2026-12-10\",\"result\":{\"code\":0}}",
      "[1]",
  };
  for (const std::string& line : malformed)
    EXPECT_FALSE(SummarizeRecordLine(line, summary, error)) << line;
}

// Power lost while a line was written: the whole lines are reported and the torn one named; the
// next append ends it first, so that the new record stays whole.
TEST(ProductionReportTest, ATornLastLineIsSkippedAndEndedBeforeTheNextAppend) {
  const fs::path path = fs::temp_directory_path() / ("vantor-torn-" + std::to_string(::getpid()));
  const std::string torn = Line("c", 20, 0, 102).substr(0, 40);
  std::ofstream(path, std::ios::binary) << Line("a", 0, 0, 100) << "\n"
                                        << Line("b", 10, -8540, 101) << "\n"
                                        << torn;
  int code = 0;
  std::string text = Report(path.string(), false, code);
  EXPECT_EQ(code, 0) << text;
  EXPECT_NE(text.find("units           2"), std::string::npos) << text;
  EXPECT_NE(text.find(path.string() + ":3: the last line is torn"), std::string::npos) << text;
  RecordFile read;
  std::string error;
  ASSERT_TRUE(ReadRecordFile(path.string(), read, error)) << error;
  EXPECT_EQ(read.lines.size(), 2u);

  const std::string next = Line("d", 30, 0, 103);
  ASSERT_TRUE(AppendRecordLine(path.string(), next, error)) << error;
  std::ifstream in(path, std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(content.substr(content.size() - torn.size() - next.size() - 2),
            torn + "\n" + next + "\n");
  // Now in the middle, the torn line is a line that is not a record: an error, as any such line.
  text = Report(path.string(), false, code);
  EXPECT_EQ(code, 2);
  EXPECT_NE(text.find(path.string() + ":3: not a record"), std::string::npos) << text;
  // A whole object without its newline is a record; one that is no record stays an error.
  std::ofstream(path, std::ios::binary) << Line("a", 0, 0, 100) << "\n" << Line("e", 40, 0, 104);
  ASSERT_TRUE(ReadRecordFile(path.string(), read = {}, error)) << error;
  EXPECT_EQ(read.records.size(), 2u);
  EXPECT_TRUE(read.torn.empty());
  std::ofstream(path, std::ios::binary) << Line("a", 0, 0, 100) << "\n{\"id\":\"x\"}";
  EXPECT_FALSE(ReadRecordFile(path.string(), read = {}, error));
  EXPECT_NE(error.find(":2: not a record"), std::string::npos) << error;
  fs::remove(path);
}

}  // namespace
}  // namespace vantor::cli
