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

namespace vantor::production {
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
  const auto fields = ReadRecordFields(Line("x2", 3, 0, std::nullopt));
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->at("unit"), "null");
  EXPECT_EQ(fields->at("images"), "0");
}

TEST(ProductionReportTest, SumsUpRecordsEachIdOnce) {
  std::vector<RecordSummary> records;
  std::string error;
  for (const std::string& line :
       {Line("a", 0, 0, 100), Line("b", 10, -8540, 101), Line("b", 10, -8540, 101),
        Line("c", 30, -8540, std::nullopt), Line("d", 60, 0, 100)}) {
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
