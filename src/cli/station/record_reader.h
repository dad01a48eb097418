// Reading production records back (from a record or spool file, or a database row) through
// nlohmann-json: what a report and the database need of each line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::cli {

// What a report needs of a record.
struct RecordSummary {
  std::string id;
  std::int64_t startedMs = 0;  // milliseconds since 1970, UTC
  std::int64_t finishedMs = 0;
  std::string port;
  std::int32_t code = 0;
  std::optional<std::uint64_t> unit;

  bool operator==(const RecordSummary&) const = default;
};

// "2026-12-10T04:38:13.125Z" into milliseconds since 1970; false when it is not such a time.
bool ParseIsoUtc(const std::string& text, std::int64_t& ms);

// The summary of a record line; false with `error` for a line that is not a record.
bool SummarizeRecordLine(std::string_view line, RecordSummary& summary, std::string& error);

// The records of a file, and the last line when it was torn (a power loss while it was written:
// no newline and not a record); such a line is skipped and named in `torn`.
struct RecordFile {
  std::vector<std::string> lines;
  std::vector<RecordSummary> records;
  std::string torn;  // "FILE:LINE: ..." or empty
};

// Every record line of `path` (empty lines skipped); false with `error` naming the first line
// that is not a record (a torn last line excepted).
bool ReadRecordFile(const std::string& path, RecordFile& file, std::string& error);

}  // namespace vantor::cli
