// The device flows (see flows.h).
#include "device/flows.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "device/port_tuning.h"
#include "device/texts.h"
#include "protocol/download.h"
#include "protocol/text_commands.h"
#include "serial/low_latency.h"

namespace vantor::device {

namespace {

std::atomic<double> g_waitScale{1.0};

// Where the download stands, read from the context after every confirmed frame so that the
// per-segment steps can be told although the session reports one percentage for the whole list.
struct DownloadWatch {
  protocol::TransferContext* context = nullptr;
  FlowObserver* reporter = nullptr;
  std::vector<const protocol::Segment*> segments;
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
    const protocol::Segment& s = *segments[current];
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
  FlowObserver* reporter = nullptr;
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

std::int32_t OnListProgress(void* userData, std::int32_t percent) {
  static_cast<FlowObserver*>(userData)->Progress(percent);
  return percent;
}

}  // namespace

void SetWaitScaleForTesting(double scale) {
  g_waitScale = scale;
}

std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait) {
  return std::chrono::milliseconds(
      static_cast<std::int64_t>(static_cast<double>(wait.count()) * g_waitScale.load()));
}

std::int32_t WaitScaled(std::chrono::milliseconds wait, const serial::CancelToken* cancel) {
  return serial::SleepUnlessCancelled(cancel, ScaledWait(wait));
}

bool IsCancelled(const serial::CancelToken* cancel) {
  return cancel != nullptr && cancel->cancelled();
}

std::string DescribeState(const DetectedState& state) {
  if (state.bootVersion)
    return FormatBootVersion(*state.bootVersion);
  if (state.firmwareVersion)
    return *state.firmwareVersion;
  return kNoDeviceState;
}

std::unique_ptr<serial::SerialPort> OpenDevicePort(const std::string& name, bool trace,
                                                   std::int32_t& error,
                                                   const serial::CancelToken* cancel,
                                                   std::chrono::milliseconds waitFor) {
  const auto deadline = std::chrono::steady_clock::now() + waitFor;
  for (;;) {
    error = 0;
    auto port = serial::CreatePort(name, trace);
    if (port->IsOpen()) {
      port->cancel = cancel;
      serial::RequestLowLatency(*port);
      return port;
    }
    error = serial::SerialPort::LastOpenError();
    if (std::chrono::steady_clock::now() >= deadline)
      return nullptr;
    if (serial::SleepUnlessCancelled(cancel, kReopenPause) != 0) {
      error = serial::kErrorCancelled;
      return nullptr;
    }
  }
}

std::unique_ptr<serial::SerialPort> ReopenPort(std::unique_ptr<serial::SerialPort> port) {
  if (!port)
    return nullptr;
  const std::string name = port->reopenPort;
  const bool trace = port->trace;
  const serial::CancelToken* cancel = port->cancel;
  port.reset();
  if (IsCancelled(cancel))
    return nullptr;
  // A device that re-enumerates after a restart may take a moment to come back; past the bound
  // it counts as not answering.
  std::int32_t error = 0;
  return OpenDevicePort(name, trace, error, cancel, kReopenRetryTime);
}

std::optional<std::uint32_t> QueryBootVersionTwice(serial::SerialPort& port) {
  protocol::BootLink link{&port};
  std::uint32_t version = 0;
  const std::int32_t first = protocol::QueryBootVersion(link, version);
  if (first == 0)
    return version;
  if (first != serial::kErrorCancelled && protocol::QueryBootVersion(link, version) == 0)
    return version;
  return std::nullopt;
}

DetectedState DetectDevice(serial::SerialPort& port) {
  DetectedState state;
  state.bootVersion = QueryBootVersionTwice(port);
  if (state.bootVersion || IsCancelled(port.cancel))
    return state;
  protocol::BootLink link{&port};
  protocol::TextReplies replies;
  if (const char* text = protocol::QueryFirmwareVersion(link, replies)) {
    std::string version(text);
    if (version.size() >= 2 && version.compare(version.size() - 2, 2, "\r\n") == 0)
      version.resize(version.size() - 2);
    state.firmwareVersion = std::move(version);
  }
  return state;
}

BootEntry EnterBootloader(std::unique_ptr<serial::SerialPort>& port, DetectedState& state,
                          FlowObserver& reporter) {
  if (state.bootVersion)
    return BootEntry::kAlreadyRunning;
  const serial::CancelToken* cancel = port->cancel;
  auto cancelled = [&] {
    port.reset();
    return BootEntry::kCancelled;
  };
  protocol::BootLink link{port.get()};
  protocol::TextReplies replies;
  const protocol::BootModeOutcome outcome = protocol::RequestBootMode(link, replies);
  if (IsCancelled(cancel))
    return cancelled();
  reporter.BootRequested(outcome);
  if (outcome == protocol::BootModeOutcome::kRefused) {
    port.reset();
    return BootEntry::kRefused;
  }
  if (WaitScaled(kBootRestartWait, cancel) != 0)
    return cancelled();
  port = ReopenPort(std::move(port));
  if (IsCancelled(cancel))
    return cancelled();
  if (!port)
    return BootEntry::kNoAnswer;
  state.bootVersion = QueryBootVersionTwice(*port);
  if (IsCancelled(cancel))
    return cancelled();
  if (!state.bootVersion)
    return BootEntry::kNoAnswer;
  reporter.BootloaderEntered(*state.bootVersion);
  return BootEntry::kEntered;
}

double PayloadBound(std::int64_t payload, std::int64_t lineBytes) {
  return lineBytes > 0 ? static_cast<double>(payload) / static_cast<double>(lineBytes) *
                             static_cast<double>(serial::kBytesPerSecond)
                       : 0.0;
}

std::int32_t RunDownload(serial::SerialPort& port, const protocol::SegmentList& segments,
                         std::uint32_t flags, FlowObserver& reporter, std::int64_t* lineBytes) {
  protocol::TransferContext context;
  context.link.port = &port;
  DownloadWatch watch;
  watch.context = &context;
  watch.reporter = &reporter;
  std::int64_t end = 0;
  for (const protocol::Segment& s : segments) {
    watch.segments.push_back(&s);
    end += s.length;
    watch.ends.push_back(end);
  }
  if (!watch.segments.empty())
    watch.Start();
  const std::int32_t result =
      protocol::DownloadSegments(segments, context, OnDownloadProgress, &watch, flags);
  if (lineBytes != nullptr)
    *lineBytes = context.lineBytes;
  if (result == 0) {
    watch.Advance(true);
  } else if (watch.current < watch.segments.size()) {
    reporter.SegmentDone(watch.current, watch.segments[watch.current]->address, result);
  }
  return result;
}

std::int32_t RunReadBack(serial::SerialPort& port, std::uint32_t address, std::int32_t length,
                         std::vector<std::uint8_t>& data, FlowObserver& reporter,
                         std::int64_t progressBefore, std::int64_t progressTotal) {
  protocol::SegmentList list;
  protocol::Segment segment;
  segment.address = address;
  segment.length = length;
  segment.data.assign(static_cast<std::size_t>(length), 0);
  protocol::InsertSegment(list, std::move(segment));

  protocol::TransferContext context;
  context.link.port = &port;
  ReadBackWatch watch{&reporter, progressBefore, length, progressTotal};
  protocol::ReadBackReport report;
  const std::int32_t result =
      protocol::ReadBackSegments(context, list, OnReadBackProgress, &watch, report);
  data = std::move(list.begin()->data);
  return result;
}

ReadBackListOutcome RunReadBackList(serial::SerialPort& port, protocol::SegmentList& segments,
                                    FlowObserver& observer) {
  protocol::TransferContext context;
  context.link.port = &port;
  protocol::ReadBackReport report;
  ReadBackListOutcome outcome;
  outcome.result = protocol::ReadBackSegments(context, segments, OnListProgress, &observer, report);
  outcome.boxText = ReadBackBoxText(outcome.result, report.blocks);
  outcome.informationIcon = outcome.result != 0;
  outcome.unreadSegments = std::move(report.unreadSegments);
  return outcome;
}

std::int32_t RunCheckedReadBack(serial::SerialPort& port, std::uint32_t address,
                                std::int32_t length, std::vector<std::uint8_t>& data,
                                bool& differed, FlowObserver& observer, std::int64_t progressBefore,
                                std::int64_t progressTotal) {
  differed = false;
  std::int32_t result =
      RunReadBack(port, address, length, data, observer, progressBefore, progressTotal);
  if (result != 0)
    return result;
  std::vector<std::uint8_t> again;
  result =
      RunReadBack(port, address, length, again, observer, progressBefore + length, progressTotal);
  if (result == 0 && again != data) {
    differed = true;
    result = -1;
  }
  return result;
}

}  // namespace vantor::device
