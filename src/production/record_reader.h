// Reading production records back (from a record or spool file, or a database row) through
// nlohmann-json: what a report and the database need of each line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::production {

// What a report needs of a record.
struct RecordSummary {
  std::string id;
  std::int64_t startedMs = 0;  // milliseconds since 1970, UTC
  std::int64_t finishedMs = 0;
  std::string port;
  std::int32_t code = 0;
  // Whether the device was sent anything; a line written before records told it ("sent"
  // missing) counts as sent unless it got no unit number (nothing is sent then).
  bool sent = true;
  std::optional<std::uint64_t> unit;
  // The station that wrote the record; empty for a line written before records named theirs
  // (unknown: never taken to be the PC that reads or imports it).
  std::string station;

  bool operator==(const RecordSummary&) const = default;
};

// Whether a record's device was sent anything: its "sent", or for a line written before records
// told it (`sent` none), true unless its code says it got no unit number (nothing is sent then).
bool WasSent(std::optional<bool> sent, std::int32_t code);

// "2026-12-10T04:38:13.125Z" into milliseconds since 1970; false when it is not such a time.
bool ParseIsoUtc(const std::string& text, std::int64_t& ms);

// The summary of a record line; false with `error` for a line that is not a record.
bool SummarizeRecordLine(std::string_view line, RecordSummary& summary, std::string& error);

// The records of a file, and its torn lines: a power loss while a line was written leaves a JSON
// object cut short, at the end of the file or, once a later append has ended it, anywhere. Such a
// line is skipped and named in `torn`.
struct RecordFile {
  std::vector<std::string> lines;
  std::vector<RecordSummary> records;
  std::vector<std::string> torn;  // "FILE:LINE: ...", one per torn line
};

// Every record line of `path` (empty lines skipped); false with `error` naming the first line
// that is not a record (torn lines excepted).
bool ReadRecordFile(const std::string& path, RecordFile& file, std::string& error);

}  // namespace vantor::production
