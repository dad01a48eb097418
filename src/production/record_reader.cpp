// Reading record lines back through nlohmann-json (see record_reader.h).
#include "production/record_reader.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <utility>

#include <nlohmann/json.hpp>

#include "device/unit_number.h"
#include "serial/number_text.h"

namespace vantor::production {

namespace {

using nlohmann::json;

// The string member `key` of `object`; empty when missing or not a string.
std::string Text(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The whole number of `j` in `Integer`'s range.
template <typename Integer>
std::optional<Integer> WholeNumber(const json& j) {
  if (j.is_number_unsigned() && std::in_range<Integer>(j.get<std::uint64_t>()))
    return static_cast<Integer>(j.get<std::uint64_t>());
  if (j.is_number_integer() && std::in_range<Integer>(j.get<std::int64_t>()))
    return static_cast<Integer>(j.get<std::int64_t>());
  return std::nullopt;
}

// Whether `line` is a JSON object cut short: the text ends before the object does.
bool CutShort(std::string_view line) {
  if (line.empty() || line.front() != '{')
    return false;
  try {
    [[maybe_unused]] const json whole = json::parse(line);
  } catch (const json::parse_error& e) {
    return e.byte > line.size();  // the parser ran out of text, it did not meet a wrong one
  }
  return false;
}

}  // namespace

bool ParseIsoUtc(const std::string& text, std::int64_t& ms) {
  using namespace std::chrono;
  // "YYYY-MM-DDTHH:MM:SS.mmmZ": the fields at fixed places.
  const std::string_view t = text;
  if (t.size() != 24 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
      t[16] != ':' || t[19] != '.' || t[23] != 'Z')
    return false;
  const auto y = serial::ParseNumber<int>(t.substr(0, 4));
  const auto mo = serial::ParseNumber<unsigned>(t.substr(5, 2));
  const auto d = serial::ParseNumber<unsigned>(t.substr(8, 2));
  const auto h = serial::ParseNumber<int>(t.substr(11, 2));
  const auto mi = serial::ParseNumber<int>(t.substr(14, 2));
  const auto s = serial::ParseNumber<int>(t.substr(17, 2));
  const auto milli = serial::ParseNumber<int>(t.substr(20, 3));
  if (!y || !mo || !d || !h || !mi || !s || !milli || *h > 23 || *mi > 59 || *s > 59)
    return false;
  const year_month_day date{year{*y}, month{*mo}, day{*d}};
  if (!date.ok())
    return false;
  const auto at = sys_days{date} + hours{*h} + minutes{*mi} + seconds{*s} + milliseconds{*milli};
  ms = at.time_since_epoch().count();
  return true;
}

bool WasSent(std::optional<bool> sent, std::int32_t code) {
  return sent.value_or(code != device::kErrorUnitNumber);
}

bool SummarizeRecordLine(std::string_view line, RecordSummary& summary, std::string& error) {
  const json record = json::parse(line, nullptr, false);
  if (!record.is_object()) {
    error = "not a JSON object";
    return false;
  }
  summary = RecordSummary{};
  summary.id = Text(record, "id");
  summary.port = Text(record, "port");
  summary.station = Text(record, "station");
  if (!ParseIsoUtc(Text(record, "started"), summary.startedMs) ||
      !ParseIsoUtc(Text(record, "finished"), summary.finishedMs)) {
    error = "no started/finished time";
    return false;
  }
  const json* code = nullptr;
  if (const auto result = record.find("result"); result != record.end() && result->is_object()) {
    if (const auto it = result->find("code"); it != result->end())
      code = &*it;
  }
  const auto value = code ? WholeNumber<std::int32_t>(*code) : std::nullopt;
  if (!value) {
    error = "no result code";
    return false;
  }
  summary.code = *value;
  const auto sent = record.find("sent");
  summary.sent =
      WasSent(sent != record.end() && sent->is_boolean() ? std::optional<bool>(sent->get<bool>())
                                                         : std::nullopt,
              summary.code);
  if (const auto unit = record.find("unit"); unit != record.end() && unit->is_object()) {
    if (const auto number = unit->find("number"); number != unit->end())
      summary.unit = WholeNumber<std::uint64_t>(*number);
  }
  return true;
}

bool ReadRecordFile(const std::string& path, RecordFile& file, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  int number = 0;
  for (std::size_t start = 0; start < content.size();) {
    const std::size_t newline = content.find('\n', start);
    const bool ended = newline != std::string::npos;
    std::string line = content.substr(start, ended ? newline - start : std::string::npos);
    start = ended ? newline + 1 : content.size();
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      continue;
    RecordSummary summary;
    if (!SummarizeRecordLine(line, summary, error)) {
      const std::string where = path + ":" + std::to_string(number) + ": ";
      if (CutShort(line)) {
        // Power lost while the line was written: what came before is whole, and a station that
        // appended after it ended it first, so it may stand anywhere.
        file.torn.push_back(where + "a torn line (cut short, not a record): skipped");
        error.clear();
        continue;
      }
      error = where + "not a record (" + error + ")";
      return false;
    }
    file.lines.push_back(std::move(line));
    file.records.push_back(std::move(summary));
  }
  return true;
}

}  // namespace vantor::production
