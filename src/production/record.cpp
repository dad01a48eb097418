// The production record's line and its durable append.
#include "production/record.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <sstream>

#include "device/texts.h"
#include "production/json_string.h"
#include "production/record_reader.h"
#include "production/sha256.h"

namespace vantor::production {

namespace {

std::string Answered(const std::optional<device::DetectedState>& state) {
  if (!state)
    return "null";
  return JsonString(device::DescribeState(*state));
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
  for (const Segment& s : images.segments) {
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
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

std::string FormatRecord(const DeviceRecord& r) {
  std::ostringstream f;
  f << "{\"id\":" << JsonString(r.id) << ",\"started\":" << JsonString(IsoUtc(r.started))
    << ",\"finished\":" << JsonString(IsoUtc(r.finished)) << ",\"port\":" << JsonString(r.port)
    << ",\"usb\":";
  if (r.usb) {
    f << "{\"vid\":" << JsonString(r.usb->vid) << ",\"pid\":" << JsonString(r.usb->pid)
      << ",\"serial\":" << JsonString(r.usb->serial) << "}";
  } else {
    f << "null";
  }
  f << ",\"before\":" << Answered(r.before) << ",\"after\":" << Answered(r.after)
    << ",\"images\":[";
  for (std::size_t i = 0; i < r.images.size(); ++i) {
    const RecordImage& image = r.images[i];
    char address[16];
    std::snprintf(address, sizeof address, "0x%06x", image.address);
    f << (i ? "," : "") << "{\"target\":" << JsonString(image.target)
      << ",\"address\":" << JsonString(address) << ",\"size\":" << image.size
      << ",\"sha256\":" << JsonString(image.sha256) << "}";
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  f << "],\"bytes\":" << r.bytes << ",\"seconds\":" << seconds << ",\"attempts\":" << r.attempts
    << ",\"verified\":" << (r.verified ? (*r.verified ? "true" : "false") : "null")
    << ",\"result\":{\"code\":" << r.code << ",\"message\":" << JsonString(r.message)
    << "},\"unit\":";
  if (r.unit) {
    f << "{\"number\":" << r.unit->number
      << ",\"address\":" << JsonString(device::Hex(r.unit->address))
      << ",\"bytes\":" << JsonString(device::HexBytes(r.unit->bytes)) << "}";
  } else {
    f << "null";
  }
  f << "}";
  return f.str();
}

bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error) {
  const std::string bytes = line + "\n";
#ifdef _WIN32
  const int fd = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, 0644);
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
  if (fd < 0) {
    error = "cannot open the record " + path + ": " + std::strerror(errno);
    return false;
  }
  // One write: lines of devices finishing at once, in this run's workers or in other runs on the
  // same file, never interleave.
#ifdef _WIN32
  const bool written = _write(fd, bytes.data(), static_cast<unsigned>(bytes.size())) ==
                       static_cast<int>(bytes.size());
  const bool synced = _commit(fd) == 0;
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
    record.unit = outcome.unit;
    record.started = outcome.started;
    record.finished = outcome.finished;
    record.seconds = outcome.seconds;
    record.attempts = outcome.attempts;
    record.port = outcome.port;
    record.usb = UsbIdentityOf(outcome.port);
    record.before = outcome.last.first;
    record.after = outcome.last.after;
    record.images = images;
    record.bytes = outcome.last.bytes;
    if (verifyAsked)
      record.verified = outcome.last.verified;
    record.code = outcome.last.code;
    record.message = outcome.last.message;
    const std::string line = FormatRecord(record);
    device::RecordResult result;
    std::string error;
    if (!targets.file.empty() && !AppendRecordLine(targets.file, line, error))
      result.error = error;
    if (targets.database) {
      RecordSummary summary;
      bool added = false;
      if (!SummarizeRecordLine(line, summary, error) ||
          !targets.database->Insert(line, summary, added, error)) {
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
