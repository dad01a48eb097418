// Reading production records back (from a record or spool file, or a database row): each line
// parsed into its members, nested objects flattened to "result.code", "unit.number",
// "images.0.sha256"; strings unescaped, numbers and literals as written.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::production {

using RecordFields = std::map<std::string, std::string>;

// The members of one JSON object line; nullopt when it is not one.
std::optional<RecordFields> ReadRecordFields(std::string_view line);

// What a report needs of a record.
struct RecordSummary {
  std::string id;
  std::int64_t startedMs = 0;  // milliseconds since 1970, UTC
  std::int64_t finishedMs = 0;
  std::string port;
  std::int32_t code = 0;
  std::optional<std::uint64_t> unit;
};

// "2026-12-10T04:38:13.125Z" into milliseconds since 1970; false when it is not such a time.
bool ParseIsoUtc(const std::string& text, std::int64_t& ms);

// The summary of a record line; false with `error` for a line that is not a record.
bool SummarizeRecordLine(std::string_view line, RecordSummary& summary, std::string& error);

// Every record line of `path` (empty lines skipped); false with `error` naming the first line
// that is not a record.
bool ReadRecordFile(const std::string& path, std::vector<std::string>& lines,
                    std::vector<RecordSummary>& records, std::string& error);

}  // namespace vantor::production
