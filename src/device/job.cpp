// Jobs and retries (see job.h).
#include "device/job.h"

namespace vantor::device {

int RunWithRetries(int retries, const CancelToken* cancel, FlowObserver& observer,
                   const std::function<bool()>& attempt) {
  const int total = 1 + retries;
  for (int number = 1;; ++number) {
    if (retries > 0)
      observer.Attempt(number, total);
    if (attempt() || number >= total || IsCancelled(cancel))
      return number;
  }
}

JobOutcome RunJob(const std::string& port, const Job& job, const CancelToken* cancel,
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
  // Every attempt opens the port afresh and starts the session from its beginning.
  outcome.attempts = RunWithRetries(job.retries, cancel, observer, [&] {
    outcome.last = RunDownloadFlow(flow, observer);
    return outcome.last.ok;
  });

  outcome.finished = std::chrono::system_clock::now();
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (job.record) {
    outcome.recordError = job.record(outcome);
    if (outcome.recordError)
      observer.Message(*outcome.recordError);
  }
  return outcome;
}

}  // namespace vantor::device
