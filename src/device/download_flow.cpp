// The whole download flow: detection, bootloader entry, the session, the second detection and the
// verify.
#include <chrono>
#include <cstdio>

#include "device/flows.h"
#include "device/port_tuning.h"
#include "device/texts.h"

namespace vantor::device {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

DownloadOutcome Fail(DownloadOutcome outcome, std::int32_t code, std::string_view message,
                     FlowObserver& reporter) {
  outcome.ok = false;
  outcome.code = code;
  reporter.Result(code, message);
  return outcome;
}

DownloadOutcome Cancelled(DownloadOutcome outcome, FlowObserver& reporter) {
  return Fail(std::move(outcome), kErrorCancelled, kCancelledText, reporter);
}

const std::string kNoAnswerLine(WithoutLineBreak(kNoAnswerText));

}  // namespace

VerifyResult VerifySegments(SerialPort& port, const SegmentList& segments, FlowObserver& reporter) {
  VerifyResult verify;
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t total = segments.TotalBytes();
  std::int64_t before = 0;
  std::size_t index = 0;
  for (const Segment& s : segments) {
    reporter.SegmentStarted(index, segments.size(), s.address, s.length, "verify");
    std::vector<std::uint8_t> data;
    const std::int32_t result =
        RunReadBack(port, s.address, s.length, data, reporter, before, total);
    reporter.SegmentDone(index, s.address, result);
    if (result != 0) {
      verify.result = result;
      break;
    }
    for (std::size_t i = 0; i < s.data.size(); ++i) {
      if (data[i] != s.data[i]) {
        verify.firstDifference = s.address + static_cast<std::uint32_t>(i);
        break;
      }
    }
    if (verify.firstDifference)
      break;
    before += s.length;
    ++index;
  }
  verify.seconds = SecondsSince(start);
  reporter.Verify(verify.result, verify.firstDifference, verify.seconds);
  return verify;
}

DownloadOutcome RunDownloadFlow(const DownloadJob& job, FlowObserver& reporter) {
  DownloadOutcome outcome;
  outcome.bytes = job.segments->TotalBytes();
  std::int32_t error = 0;
  auto port = OpenDevicePort(job.port, job.trace, error, job.cancel);
  if (!port)
    return Fail(outcome, error, OpenFailureText(job.port, error), reporter);
  reporter.PortOpened(job.port);

  outcome.first = DetectDevice(*port);
  if (IsCancelled(job.cancel))
    return Cancelled(outcome, reporter);
  reporter.Detected(outcome.first, "detect");
  if (!outcome.first.answered())
    return Fail(outcome, -1, kNoAnswerLine, reporter);

  DetectedState state = outcome.first;
  if (!state.bootVersion && !job.enterBootloader) {
    return Fail(outcome, -1,
                kNoAnswerLine + "\nthe bootloader does not answer on " + job.port +
                    " (the firmware does: " + DescribeState(state) +
                    "); 'write' needs a running bootloader, 'download' switches to it",
                reporter);
  }
  switch (EnterBootloader(port, state, reporter)) {
    case BootEntry::kAlreadyRunning:
      break;
    case BootEntry::kEntered:
      outcome.bootEntered = true;
      break;
    case BootEntry::kRefused:
      return Fail(outcome, -1, WithoutLineBreak(kCheckDeviceText), reporter);
    case BootEntry::kNoAnswer:
      return Fail(outcome, -1, kNoAnswerLine, reporter);
    case BootEntry::kCancelled:
      return Cancelled(outcome, reporter);
  }

  outcome.bootVersion = state.bootVersion;
  const auto start = std::chrono::steady_clock::now();
  const std::int32_t result =
      RunDownload(*port, *job.segments, job.flags, reporter, &outcome.lineBytes);
  outcome.downloadSeconds = SecondsSince(start);
  if (IsCancelled(job.cancel))
    return Cancelled(outcome, reporter);
  if (result != 0)
    return Fail(outcome, result, CommErrorMessage(result), reporter);
  if (job.redetect) {
    reporter.Message(WithoutLineBreak(kDownloadDoneLog));
    if (WaitScaled(kRedetectWait, job.cancel) != 0)
      return Cancelled(outcome, reporter);
    port = ReopenPort(std::move(port));
    DetectedState after;
    if (port)
      after = DetectDevice(*port);
    if (IsCancelled(job.cancel))
      return Cancelled(outcome, reporter);
    reporter.Detected(after, "redetect");
    if (!after.answered())
      reporter.Message(kNoAnswerLine);
    outcome.after = after;
    reporter.Message(WithoutLineBreak(kFinishedLog));
  }

  if (job.verify) {
    if (!port)
      return Fail(outcome, -1, kNoAnswerLine + "\nverify: the port did not reopen", reporter);
    const VerifyResult verify = VerifySegments(*port, *job.segments, reporter);
    outcome.verifySeconds = verify.seconds;
    if (IsCancelled(job.cancel))
      return Cancelled(outcome, reporter);
    if (verify.result != 0) {
      return Fail(outcome, verify.result,
                  CommErrorMessage(verify.result) + "\nverify: the read-back failed", reporter);
    }
    if (verify.firstDifference) {
      char text[96];
      std::snprintf(text, sizeof text, "verify: device memory differs at 0x%06x",
                    *verify.firstDifference);
      return Fail(outcome, -1, text, reporter);
    }
    outcome.verified = true;
  }

  char summary[160];
  const double rate = outcome.downloadSeconds > 0 ? outcome.bytes / outcome.downloadSeconds : 0;
  std::snprintf(summary, sizeof summary, "downloaded %lld bytes in %.1f s (%.0f bytes/s)%s",
                static_cast<long long>(outcome.bytes), outcome.downloadSeconds, rate,
                outcome.verified ? ", verified" : "");
  outcome.ok = true;
  reporter.Result(0, summary);
  return outcome;
}

}  // namespace vantor::device
