// The whole download flow: detection, bootloader entry, the session, the second detection and the
// verify.
#include <chrono>

#include "device/flows.h"
#include "device/port_tuning.h"
#include "device/result_codes.h"
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
  outcome.message = message;
  reporter.Result(code, message);
  return outcome;
}

DownloadOutcome Cancelled(DownloadOutcome outcome, FlowObserver& reporter) {
  return Fail(std::move(outcome), serial::kErrorCancelled, kCancelledText, reporter);
}

const std::string kNoAnswerLine(WithoutLineBreak(kNoAnswerText));

}  // namespace

VerifyResult VerifySegments(serial::SerialPort& port, const protocol::SegmentList& segments,
                            FlowObserver& reporter) {
  VerifyResult verify;
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t total = segments.TotalBytes();
  std::int64_t before = 0;
  std::size_t index = 0;
  for (const protocol::Segment& s : segments) {
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
  auto port = OpenDevicePort(job.port, job.trace, error, job.cancel, job.portWait);
  if (!port && error == serial::kErrorCancelled)
    return Cancelled(outcome, reporter);
  if (!port)
    return Fail(outcome, error, OpenFailureText(job.port, error), reporter);
  outcome.portOpened = true;  // the detection below writes to it at once
  reporter.PortOpened(job.port);

  outcome.first = DetectDevice(*port);
  if (IsCancelled(job.cancel))
    return Cancelled(outcome, reporter);
  reporter.Detected(outcome.first, "detect");
  if (!outcome.first.answered())
    return Fail(outcome, -1, kNoAnswerLine, reporter);

  DetectedState state = outcome.first;
  if (!state.bootVersion && !job.enterBootloader) {
    return Fail(outcome, -1, BootloaderSilentText(job.port, DescribeState(state)), reporter);
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
  outcome.sessionBegan = true;
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
    reporter.Phase(FlowPhase::kRestartWait);
    if (WaitScaled(kRedetectWait, job.cancel) != 0)
      return Cancelled(outcome, reporter);
    reporter.Phase(FlowPhase::kRedetecting);
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
      return Fail(outcome, -1, kNoAnswerLine + "\n" + kVerifyPortLostText, reporter);
    const VerifyResult verify = VerifySegments(*port, *job.segments, reporter);
    outcome.verifySeconds = verify.seconds;
    if (IsCancelled(job.cancel))
      return Cancelled(outcome, reporter);
    if (verify.result != 0) {
      return Fail(outcome, verify.result,
                  CommErrorMessage(verify.result) + "\n" + kVerifyReadBackFailedText, reporter);
    }
    if (verify.firstDifference)
      return Fail(outcome, kErrorVerifyDiffers, VerifyDiffersText(*verify.firstDifference),
                  reporter);
    outcome.verified = true;
  }

  const std::string summary =
      DownloadSummaryText(outcome.bytes, outcome.downloadSeconds, outcome.verified);
  outcome.ok = true;
  outcome.message = summary;
  reporter.Result(0, summary);
  return outcome;
}

}  // namespace vantor::device
