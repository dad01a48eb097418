// The production record read back (times, summaries, fields) and the sums of a set of records
// (units, yield, failures by code, units per hour, the range of unit numbers, a number on two
// units, a record loaded twice).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "production/production_report.h"
#include "production/record.h"
#include "production/record_reader.h"
#include "support/flat_json.h"
#include "support/record_line.h"

namespace vantor::production {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;
using vantor::testing::RecordLine;

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
  ASSERT_TRUE(SummarizeRecordLine(RecordLine("x1", 3, -9978, 77), summary, error)) << error;
  EXPECT_EQ(summary.id, "x1");
  EXPECT_EQ(summary.code, -9978);
  EXPECT_EQ(summary.unit, 77u);
  EXPECT_EQ(summary.finishedMs - summary.startedMs, 30000);
  const auto fields = testing::FlattenJson(RecordLine("x2", 3, 0, std::nullopt));
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
  r.usb = serial::UsbIdentity{"0403", "6001", "A\x80"};
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
  const auto fields = testing::FlattenJson(line);
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
TEST(ProductionReportTest, SumsUpRecordsEachIdOnce) {
  std::vector<RecordSummary> records;
  std::string error;
  for (const std::string& line :
       {RecordLine("a", 0, 0, 100), RecordLine("b", 10, -8540, 101),
        RecordLine("b", 10, -8540, 101), RecordLine("c", 30, -8540, std::nullopt),
        RecordLine("d", 60, 0, 100)}) {
    records.emplace_back();
    ASSERT_TRUE(SummarizeRecordLine(line, records.back(), error)) << error;
  }
  const ProductionReport report = SummarizeProduction(records);
  EXPECT_EQ(report.units, 4u);
  EXPECT_EQ(report.repeatedRecords, 1u);
  EXPECT_EQ(report.succeeded, 2u);
  EXPECT_EQ(report.failures, (std::map<std::int32_t, std::size_t>{{-8540, 2}}));
  EXPECT_DOUBLE_EQ(report.Yield(), 0.5);
  // From the first start to the last finish: 60.5 minutes.
  EXPECT_DOUBLE_EQ(report.UnitsPerHour(), 4 / (60.5 / 60));
  EXPECT_EQ(report.numbered, 3u);
  EXPECT_EQ(report.lowest, 100u);
  EXPECT_EQ(report.highest, 101u);
  EXPECT_EQ(report.numbersTwice, (std::map<std::uint64_t, std::size_t>{{100, 2}}));
  EXPECT_EQ(SummarizeProduction({}).UnitsPerHour(), 0.0);
}

}  // namespace
}  // namespace vantor::production
