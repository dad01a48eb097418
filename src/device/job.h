// A job is what one device gets in a run: the segment list already read and checked (shared by
// every port, never changed), the flags word, verify, re-detection, retries and what to record
// when the device finishes. RunJob runs it on one port; RunWithRetries is the retry loop every
// flow of a run shares (download, write and read).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/flows.h"
#include "device/unit_number.h"
#include "protocol/segments.h"
#include "serial/cancel.h"

namespace vantor::device {

struct JobOutcome;

// What a job's record hook did: the reason it could not keep the record (the device then counts
// as failed), or a remark on where the record went (kept elsewhere than asked, for example).
struct RecordResult {
  std::optional<std::string> error;
  std::optional<std::string> note;
};

struct Job {
  std::shared_ptr<const protocol::SegmentList> segments;
  std::uint32_t flags = 0;
  bool enterBootloader = true;  // false: the bootloader must already answer ("write")
  bool redetect = true;
  bool verify = false;
  int retries = 0;  // further attempts after a failed one, each from the start, the port reopened
  bool trace = false;
  // With a place, every device gets a number of its own there, taken from `takeNumber` before
  // anything is sent; the number is never given back, also when the device then fails.
  std::optional<NumberPlace> unitPlace;
  std::function<bool(std::uint64_t& number, std::string& error)> takeNumber;
  // Called once the device finished (whatever the result): writes what the run keeps of it.
  std::function<RecordResult(const JobOutcome&)> record;
};

// How one attempt ended.
struct AttemptResult {
  std::int32_t code = 0;
  std::string message;
  bool sessionBegan = false;  // the download session began (bytes of the image may have gone)
};

// The device's result over its attempts: the last attempt's, unless that attempt failed as a
// consequence of an earlier one: it failed before its download session began (the port did not
// open, nothing or the wrong thing answered, the bootloader could not be entered) and was not
// cancelled. Such attempts are passed over back to the one that is no consequence (the first
// attempt never is). A success and a cancel always stand.
AttemptResult DeviceResult(const std::vector<AttemptResult>& attempts);

struct JobOutcome {
  std::string port;
  DownloadOutcome last;                       // the last attempt's outcome
  int attempts = 0;                           // 0: no number could be taken, nothing was tried
  std::vector<AttemptResult> attemptResults;  // one per attempt, in order
  AttemptResult result;           // the device's result (DeviceResult), or why no attempt was made
  bool sent = false;              // some attempt wrote to the device's port
  std::optional<UnitPatch> unit;  // the device's number and the bytes written for it
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point finished;
  double seconds = 0;
  std::optional<std::string> recordError;  // the record could not be written
  std::optional<std::string> recordNote;   // where the record went, when not where asked
  bool ok() const { return last.ok && !recordError; }
};

// Runs `attempt` (true when it succeeded) once, and again up to `retries` more times while it
// fails and `cancel` (may be null) is not cancelled. With retries each attempt is announced to
// `observer` first. Returns the number of attempts made.
int RunWithRetries(int retries, const serial::CancelToken* cancel, FlowObserver& observer,
                   const std::function<bool()>& attempt);

// How long a flow of a run with `retries` waits for a port that does not open before the open
// counts as a failed attempt: as long as a reopen (kReopenRetryTime) with retries, not at all
// without them.
std::chrono::milliseconds PortWaitForRetries(int retries);

// The download flow of `job` on `port` with its retries (each attempt's open waits for the port as
// PortWaitForRetries says), then its record.
JobOutcome RunJob(const std::string& port, const Job& job, const serial::CancelToken* cancel,
                  FlowObserver& observer);

}  // namespace vantor::device
