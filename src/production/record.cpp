// The production record's line and its durable append.
#include "production/record.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include <nlohmann/json.hpp>

#include "device/texts.h"
#include "production/json_string.h"
#include "production/record_reader.h"
#include "production/sha256.h"

namespace vantor::production {

namespace {

using nlohmann::ordered_json;

ordered_json Answered(const std::optional<device::DetectedState>& state) {
  if (!state)
    return nullptr;
  return Utf8Text(device::DescribeState(*state));
}

std::int64_t MillisecondsSince1970(std::chrono::system_clock::time_point at) {
  return std::chrono::floor<std::chrono::milliseconds>(at).time_since_epoch().count();
}

// The record as a JSON value: members in the order the file has always had them.
ordered_json RecordJson(const DeviceRecord& r) {
  ordered_json j;
  j["id"] = Utf8Text(r.id);
  j["station"] = Utf8Text(r.station);
  j["started"] = IsoUtc(r.started);
  j["finished"] = IsoUtc(r.finished);
  j["port"] = Utf8Text(r.port);
  j["usb"] = nullptr;
  if (r.usb) {
    j["usb"] = ordered_json{{"vid", Utf8Text(r.usb->vid)},
                            {"pid", Utf8Text(r.usb->pid)},
                            {"serial", Utf8Text(r.usb->serial)}};
  }
  j["before"] = Answered(r.before);
  j["after"] = Answered(r.after);
  j["images"] = ordered_json::array();
  for (const RecordImage& image : r.images) {
    j["images"].push_back(ordered_json{{"target", Utf8Text(image.target)},
                                       {"address", device::Hex(image.address)},
                                       {"size", image.size},
                                       {"sha256", image.sha256}});
  }
  j["bytes"] = r.bytes;
  j["seconds"] = RoundedTo(r.seconds, 3);
  j["attempts"] = r.attempts;
  j["attempt_results"] = ordered_json::array();
  for (const device::AttemptResult& a : r.attemptResults)
    j["attempt_results"].push_back(
        ordered_json{{"code", a.code}, {"message", Utf8Text(a.message)}});
  j["sent"] = r.sent;
  j["verified"] = r.verified ? ordered_json(*r.verified) : ordered_json(nullptr);
  j["result"] = ordered_json{{"code", r.code}, {"message", Utf8Text(r.message)}};
  j["unit"] = nullptr;
  if (r.unit) {
    j["unit"] = ordered_json{{"number", r.unit->number},
                             {"address", device::Hex(r.unit->address)},
                             {"bytes", device::HexBytes(r.unit->bytes)}};
  }
  return j;
}

}  // namespace

std::string NewRecordId() {
  thread_local std::mt19937_64 random{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  char text[40];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                static_cast<unsigned long long>(random()));
  return text;
}

std::vector<RecordImage> DescribeImages(const LoadedImages& images) {
  std::vector<RecordImage> described;
  for (const protocol::Segment& s : images.segments) {
    RecordImage image;
    const auto target = images.targets.find(s.address);
    image.target = target == images.targets.end() ? std::string() : target->second;
    image.address = s.address;
    image.size = s.data.size();
    image.sha256 = Sha256Hex(s.data);
    described.push_back(std::move(image));
  }
  return described;
}

std::string IsoUtc(std::chrono::system_clock::time_point at) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(at);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss time{ms - day};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

std::string FormatRecord(const DeviceRecord& record) {
  return RecordJson(record).dump();
}

RecordSummary SummarizeRecord(const DeviceRecord& record) {
  RecordSummary summary;
  summary.id = Utf8Text(record.id);
  summary.startedMs = MillisecondsSince1970(record.started);
  summary.finishedMs = MillisecondsSince1970(record.finished);
  summary.port = Utf8Text(record.port);
  summary.station = Utf8Text(record.station);
  summary.code = record.code;
  summary.sent = record.sent;
  if (record.unit)
    summary.unit = record.unit->number;
  return summary;
}

bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error) {
#ifdef _WIN32
  const int fd = _open(path.c_str(), _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY, 0644);
#else
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
  if (fd < 0) {
    error = "cannot open the record " + path + ": " + std::strerror(errno);
    return false;
  }
  // The look at the last byte and the write belong together: another append between them (a
  // worker of this run, or another run on this PC) could be caught half-written and taken for a
  // torn line. This run's workers take turns here; other processes wait for the file's lock.
  static std::mutex appending;
  const std::lock_guard turn(appending);
#ifdef _WIN32
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  OVERLAPPED whole{};
  const bool locked = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
#else
  (void)::flock(fd,
                LOCK_EX);  // given back by close; without it the one write still keeps lines whole
#endif
  // A last line without its newline (torn when the power went) is ended first, so that the new
  // line stays a line of its own.
  char last = '\n';
#ifdef _WIN32
  if (_lseeki64(fd, -1, SEEK_END) >= 0 && _read(fd, &last, 1) != 1)
    last = '\n';
#else
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_size > 0 &&
      ::pread(fd, &last, 1, status.st_size - 1) != 1)
    last = '\n';
#endif
  const std::string bytes = (last == '\n' ? "" : "\n") + line + "\n";
  // One write: lines of devices finishing at once, in this run's workers or in other runs on the
  // same file, never interleave.
#ifdef _WIN32
  const bool written = _write(fd, bytes.data(), static_cast<unsigned>(bytes.size())) ==
                       static_cast<int>(bytes.size());
  const bool synced = _commit(fd) == 0;
  if (locked)
    UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
  _close(fd);
#else
  const bool written =
      ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
#endif
  if (!written || !synced) {
    error = "cannot write the record " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::function<device::RecordResult(const device::JobOutcome&)> MakeRecorder(
    RecordTargets targets, std::vector<RecordImage> images, bool verifyAsked) {
  return [targets = std::move(targets), images = std::move(images),
          verifyAsked](const device::JobOutcome& outcome) -> device::RecordResult {
    DeviceRecord record;
    record.id = NewRecordId();
    record.station = targets.station;
    record.unit = outcome.unit;
    record.started = outcome.started;
    record.finished = outcome.finished;
    record.seconds = outcome.seconds;
    record.attempts = outcome.attempts;
    record.attemptResults = outcome.attemptResults;
    record.sent = outcome.sent;
    record.port = outcome.port;
    record.usb = serial::UsbIdentityOf(outcome.port);
    if (outcome.last.portOpened)
      record.before = outcome.last.first;
    record.after = outcome.last.after;
    record.images = images;
    record.bytes = outcome.last.bytes;
    if (verifyAsked)
      record.verified = outcome.last.verified;
    record.code = outcome.result.code;
    record.message = outcome.result.message;
    // Formatted once: the same line goes to the file, the database and the spool.
    const std::string line = FormatRecord(record);
    device::RecordResult result;
    std::string error;
    if (!targets.file.empty() && !AppendRecordLine(targets.file, line, error))
      result.error = error;
    if (targets.database) {
      bool added = false;
      if (!targets.database->Insert(line, SummarizeRecord(record), added, error)) {
        // Nothing is lost: the line waits in the spool for "vantor record import".
        std::string spoolError;
        if (AppendRecordLine(targets.spool, line, spoolError))
          result.note = "record spooled to " + targets.spool + " (" + error + ")";
        else
          result.error = error + "; " + spoolError;
      }
    }
    return result;
  };
}

}  // namespace vantor::production
