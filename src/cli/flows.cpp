// The device flows of the vantor tool (see flows.h).
#include "cli/flows.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "cli/port_tuning.h"
#include "cli/reporter.h"
#include "protocol/download.h"
#include "protocol/text_commands.h"

namespace vantor::cli {

namespace {

std::atomic<double> g_waitScale{1.0};

// Where the download stands, read from the context after every confirmed frame so that the
// per-segment steps can be told although the session reports one percentage for the whole list.
struct DownloadWatch {
  TransferContext* context = nullptr;
  Reporter* reporter = nullptr;
  std::vector<const Segment*> segments;
  std::vector<std::int64_t> ends;  // cumulative byte count at the end of each segment
  std::size_t current = 0;

  // A segment other than the last counts as done once all its bytes are confirmed (its end frame
  // follows at once); the last only when the session returned 0.
  void Advance(bool finished) {
    while (current < segments.size()) {
      const bool done =
          finished || (current + 1 < segments.size() && context->doneBytes >= ends[current]);
      if (!done)
        break;
      reporter->SegmentDone(current, segments[current]->address, 0);
      ++current;
      if (current < segments.size())
        Start();
    }
  }
  void Start() {
    const Segment& s = *segments[current];
    reporter->SegmentStarted(current, segments.size(), s.address, s.length, "segment");
  }
};

std::int32_t OnDownloadProgress(void* userData, std::int32_t percent) {
  auto* watch = static_cast<DownloadWatch*>(userData);
  watch->reporter->Progress(percent);
  watch->Advance(false);
  return percent;
}

struct ReadBackWatch {
  Reporter* reporter = nullptr;
  std::int64_t before = 0;
  std::int64_t length = 0;
  std::int64_t total = 0;
};

std::int32_t OnReadBackProgress(void* userData, std::int32_t percent) {
  auto* watch = static_cast<ReadBackWatch*>(userData);
  if (watch->total > 0) {
    const std::int64_t done = watch->before + watch->length * percent / 100;
    watch->reporter->Progress(static_cast<std::int32_t>(done * 100 / watch->total));
  }
  return percent;
}

}  // namespace

void SetWaitScaleForTesting(double scale) {
  g_waitScale = scale;
}

void SleepScaled(std::chrono::milliseconds wait) {
  const auto scaled = std::chrono::duration<double, std::milli>(wait.count() * g_waitScale.load());
  std::this_thread::sleep_for(scaled);
}

std::string FormatBootVersion(std::uint32_t v) {
  char text[64];
  std::snprintf(text, sizeof text, "boot v%u.%u.%u.%u", (v >> 24) & 0xF, (v >> 16) & 0xF,
                (v >> 8) & 0xF, v & 0xF);
  return text;
}

std::string DescribeState(const DetectResult& state) {
  if (state.bootVersion)
    return FormatBootVersion(*state.bootVersion);
  if (state.firmwareVersion)
    return *state.firmwareVersion;
  return kNoDeviceState;
}

std::string CommErrorMessage(std::int32_t code) {
  return std::string(kCommErrorText) + "\n" + std::to_string(code);
}

std::unique_ptr<SerialPort> OpenDevicePort(const std::string& name, bool trace,
                                           std::int32_t& error) {
  error = 0;
  auto port = CreatePort(name, trace);
  if (!port->IsOpen()) {
    error = SerialPort::LastOpenError();
    return nullptr;
  }
  RequestLowLatency(*port);
  return port;
}

std::unique_ptr<SerialPort> ReopenPort(std::unique_ptr<SerialPort> port, bool trace) {
  const std::string name = port->reopenPort;
  port.reset();
  const auto deadline = std::chrono::steady_clock::now() + kReopenRetryTime;
  for (;;) {
    std::int32_t error = 0;
    auto fresh = OpenDevicePort(name, trace, error);
    if (fresh)
      return fresh;
    if (std::chrono::steady_clock::now() >= deadline)
      return nullptr;
    std::this_thread::sleep_for(kReopenPause);
  }
}

std::optional<std::uint32_t> QueryBootVersionTwice(SerialPort& port) {
  BootLink link{&port};
  std::uint32_t version = 0;
  if (QueryBootVersion(link, version) == 0 || QueryBootVersion(link, version) == 0)
    return version;
  return std::nullopt;
}

DetectResult DetectDevice(SerialPort& port) {
  DetectResult state;
  state.bootVersion = QueryBootVersionTwice(port);
  if (state.bootVersion)
    return state;
  BootLink link{&port};
  if (const char* text = QueryFirmwareVersion(link)) {
    std::string version(text);
    if (version.size() >= 2 && version.compare(version.size() - 2, 2, "\r\n") == 0)
      version.resize(version.size() - 2);
    state.firmwareVersion = std::move(version);
  }
  return state;
}

BootEntry EnterBootloader(std::unique_ptr<SerialPort>& port, DetectResult& state, bool trace,
                          Reporter& reporter) {
  if (state.bootVersion)
    return BootEntry::kAlreadyRunning;
  BootLink link{port.get()};
  const BootModeOutcome outcome = RequestBootMode(link);
  reporter.BootRequested(outcome);
  if (outcome == BootModeOutcome::kRefused) {
    port.reset();
    return BootEntry::kRefused;
  }
  SleepScaled(kBootRestartWait);
  port = ReopenPort(std::move(port), trace);
  if (!port)
    return BootEntry::kNoAnswer;
  state.bootVersion = QueryBootVersionTwice(*port);
  if (!state.bootVersion)
    return BootEntry::kNoAnswer;
  reporter.BootloaderEntered(*state.bootVersion);
  return BootEntry::kEntered;
}

std::int32_t RunDownload(SerialPort& port, const SegmentList& segments, std::uint32_t flags,
                         Reporter& reporter) {
  TransferContext context;
  context.link.port = &port;
  DownloadWatch watch;
  watch.context = &context;
  watch.reporter = &reporter;
  std::int64_t end = 0;
  for (const Segment& s : segments) {
    watch.segments.push_back(&s);
    end += s.length;
    watch.ends.push_back(end);
  }
  if (!watch.segments.empty())
    watch.Start();
  const std::int32_t result =
      DownloadSegments(segments, context, OnDownloadProgress, &watch, flags);
  if (result == 0) {
    watch.Advance(true);
  } else if (watch.current < watch.segments.size()) {
    reporter.SegmentDone(watch.current, watch.segments[watch.current]->address, result);
  }
  return result;
}

std::int32_t RunReadBack(SerialPort& port, std::uint32_t address, std::int32_t length,
                         std::vector<std::uint8_t>& data, Reporter& reporter,
                         std::int64_t progressBefore, std::int64_t progressTotal) {
  SegmentList list;
  Segment segment;
  segment.address = address;
  segment.length = length;
  segment.data.assign(static_cast<std::size_t>(length), 0);
  InsertSegment(list, std::move(segment));

  TransferContext context;
  context.link.port = &port;
  ReadBackWatch watch{&reporter, progressBefore, length, progressTotal};
  ReadBackReport report;
  const std::int32_t result = ReadBackSegments(context, list, OnReadBackProgress, &watch, report);
  data = std::move(list.begin()->data);
  return result;
}

}  // namespace vantor::cli
