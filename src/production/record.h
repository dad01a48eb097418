// The production record: one JSON object per device and session, appended to a file as one line
// when the device finishes, flushed and synced to the disk, never rewritten. A crash can lose
// only the line of a device still in progress.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/flows.h"
#include "device/job.h"
#include "production/database.h"
#include "production/loaded_images.h"
#include "production/record_reader.h"
#include "serial/port_identity.h"

namespace vantor::production {

struct RecordImage {
  std::string target;
  std::uint32_t address = 0;
  std::size_t size = 0;
  std::string sha256;
};

struct DeviceRecord {
  std::string id;  // unique for every record: loading a record twice is seen as such
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point finished;
  std::string port;
  std::string station;  // --station-name, else the host's name
  std::optional<serial::UsbIdentity> usb;
  std::optional<device::DetectedState>
      before;  // what answered first; none when the port did not open
  std::optional<device::DetectedState>
      after;  // what answered after the download, when detected again
  std::vector<RecordImage> images;
  std::int64_t bytes = 0;
  double seconds = 0;
  int attempts = 0;
  std::vector<device::AttemptResult> attemptResults;  // each attempt's code and message
  bool sent = false;             // some attempt wrote to the device's port (it counts in the yield)
  std::optional<bool> verified;  // none when no verify was asked
  std::int32_t code = 0;         // the device's result over its attempts (device::DeviceResult)
  std::string message;
  std::optional<device::UnitPatch> unit;  // the unit number and the bytes written for it
};

// A new record id: 32 random hex digits.
std::string NewRecordId();

// The images of a loaded command line, each with its SHA-256, in sending order.
std::vector<RecordImage> DescribeImages(const LoadedImages& images);

// "2026-12-10T04:38:13.125Z".
std::string IsoUtc(std::chrono::system_clock::time_point at);

// The record as one line of JSON (no newline).
std::string FormatRecord(const DeviceRecord& record);

// What a report and the database need of the record: the same as SummarizeRecordLine reads back
// from FormatRecord's line (texts through Utf8Text, times in whole milliseconds).
RecordSummary SummarizeRecord(const DeviceRecord& record);

// Appends `line` and a newline to `path` in one write, then syncs the file; a last line left
// without its newline (torn by a power loss) gets one first, in the same write. False with `error`.
bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error);

// Where a job's records go: a file (appended to), a database, or both. A record the database
// cannot take goes to the spool file (the same lines) for a later "vantor record import".
struct RecordTargets {
  std::string file;
  std::shared_ptr<ProductionDatabase> database;
  std::string spool;
  std::string station;  // the name every record of the job carries
};

// A job's record: the line of each finished device to `targets`. `verifyAsked` tells whether
// "verified" is true/false or null.
std::function<device::RecordResult(const device::JobOutcome&)> MakeRecorder(
    RecordTargets targets, std::vector<RecordImage> images, bool verifyAsked);

}  // namespace vantor::production
