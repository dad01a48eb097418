// Jobs and retries (see job.h).
#include "device/job.h"

#include "device/texts.h"

namespace vantor::device {

namespace {

// The device's copy of the segments with its unit number; null with the outcome failed (nothing
// sent) when no number could be taken or it could not be written.
std::shared_ptr<const protocol::SegmentList> NumberedSegments(const Job& job, JobOutcome& outcome,
                                                              FlowObserver& observer) {
  std::uint64_t number = 0;
  std::string error = "no source of unit numbers";
  UnitPatch patch;
  std::shared_ptr<const protocol::SegmentList> patched;
  if (job.takeNumber && job.takeNumber(number, error)) {
    observer.UnitNumber(number);
    patched = PatchUnitNumber(*job.segments, *job.unitPlace, number, patch, error);
    outcome.unit = std::move(patch);  // taken: the number stays this device's, written or not
  }
  if (!patched) {
    outcome.last.code = kErrorUnitNumber;
    outcome.last.message = error;
    observer.Result(outcome.last.code, outcome.last.message);
    return nullptr;
  }
  observer.Message("unit number " + std::to_string(outcome.unit->number));
  return patched;
}

}  // namespace

AttemptResult DeviceResult(const std::vector<AttemptResult>& attempts) {
  if (attempts.empty())
    return {};
  std::size_t cause = attempts.size() - 1;
  while (cause > 0 && attempts[cause].code != 0 && !attempts[cause].sessionBegan &&
         attempts[cause].code != serial::kErrorCancelled)
    --cause;
  return attempts[cause];
}

int RunWithRetries(int retries, const serial::CancelToken* cancel, FlowObserver& observer,
                   const std::function<bool()>& attempt) {
  const int total = 1 + retries;
  for (int number = 1;; ++number) {
    if (retries > 0)
      observer.Attempt(number, total);
    if (attempt() || number >= total || IsCancelled(cancel))
      return number;
  }
}

std::chrono::milliseconds PortWaitForRetries(int retries) {
  return retries > 0 ? kReopenRetryTime : std::chrono::milliseconds{0};
}

JobOutcome RunJob(const std::string& port, const Job& job, const serial::CancelToken* cancel,
                  FlowObserver& observer) {
  JobOutcome outcome;
  outcome.port = port;
  outcome.started = std::chrono::system_clock::now();
  const auto start = std::chrono::steady_clock::now();

  DownloadJob flow;
  flow.port = port;
  flow.segments = job.segments.get();
  flow.flags = job.flags;
  flow.enterBootloader = job.enterBootloader;
  flow.redetect = job.redetect;
  flow.verify = job.verify;
  flow.trace = job.trace;
  flow.cancel = cancel;
  flow.portWait = PortWaitForRetries(job.retries);
  // Kept for every attempt: a retried device keeps its number, and verify reads this copy back.
  const std::shared_ptr<const protocol::SegmentList> numbered =
      job.unitPlace ? NumberedSegments(job, outcome, observer) : nullptr;
  if (numbered)
    flow.segments = numbered.get();
  if (!job.unitPlace || numbered) {
    // Every attempt opens the port afresh and starts the session from its beginning.
    outcome.attempts = RunWithRetries(job.retries, cancel, observer, [&] {
      outcome.last = RunDownloadFlow(flow, observer);
      outcome.attemptResults.push_back(
          {outcome.last.code, outcome.last.message, outcome.last.sessionBegan});
      outcome.sent = outcome.sent || outcome.last.portOpened;
      return outcome.last.ok;
    });
    outcome.result = DeviceResult(outcome.attemptResults);
  } else {
    outcome.result = {outcome.last.code, outcome.last.message, false};
  }

  outcome.finished = std::chrono::system_clock::now();
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (job.record) {
    RecordResult kept = job.record(outcome);
    outcome.recordError = std::move(kept.error);
    outcome.recordNote = std::move(kept.note);
    if (outcome.recordError)
      observer.Message(RecordNotWrittenText(*outcome.recordError));
    if (outcome.recordNote)
      observer.Message(*outcome.recordNote);
  }
  return outcome;
}

}  // namespace vantor::device
