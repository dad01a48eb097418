// The live state of every port of a run over several ports: what each port's worker last told
// (its unit number, what answered, its phase, the percent, the attempt, the result). Each worker's
// observer updates its own row under the run's lock and passes every step on (to a JSON reporter,
// for example); whatever shows the rows (a live table, a summary, progress lines) reads them under
// the same lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/job.h"
#include "device/observer.h"

namespace vantor::production {

struct PortRow {
  using Clock = std::chrono::steady_clock;
  std::string port;
  std::string usbSerial;
  std::optional<std::uint64_t> unit;  // the unit number, once taken
  std::string answered = "-";
  std::string step = "starting";
  int percent = 0;
  int attempt = 1;
  std::optional<std::int32_t> code;
  std::string message;
  std::string note;         // where the record went when not where asked ("record spooled")
  std::string recordError;  // why the record could not be written (the device then failed)
  Clock::time_point started = Clock::now();
  std::optional<Clock::time_point> progressSince;  // the first progress of the current phase
  double seconds = 0;
  bool running = true;
  bool cancelled = false;  // the run cancelled the worker
  bool ok = false;         // the worker succeeded, its record included
};

// The rows of one run and the lock that guards them and the run's output.
class PortRows {
 public:
  std::mutex& mutex() { return m_mutex; }
  // Adds a row for `port`; the caller holds the lock.
  PortRow& Add(std::string port);
  // Every row, in the order added; the caller holds the lock.
  const std::vector<std::unique_ptr<PortRow>>& rows() const { return m_rows; }

 private:
  std::mutex m_mutex;
  std::vector<std::unique_ptr<PortRow>> m_rows;
};

// What just changed a row, for a run that writes a line about it.
enum class RowChange { kAttempt, kResult, kOther };

// The observer of one worker: updates `row` under `rows`' lock, passes every step on to `next`
// (may be null) under the same lock, then calls `changed` (may be empty), still locked.
std::unique_ptr<device::FlowObserver> MakeRowObserver(
    PortRows& rows, PortRow& row, std::unique_ptr<device::FlowObserver> next,
    std::function<void(const PortRow&, RowChange)> changed = {});

// Settles a row with what its job's outcome says, as the record has it: the attempts made (0
// when no unit number could be taken), what answered first on the last attempt ("-" when its port
// did not open), the device's result over its attempts and a record that was not written. The
// caller holds the lock.
void SettleRow(PortRow& row, const device::JobOutcome& outcome);

// Settles a row whose worker ended: its time, and a result for one that ended without one.
// The caller holds the lock.
void FinishRow(PortRow& row, bool ok, bool cancelled);

}  // namespace vantor::production
