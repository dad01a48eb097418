// The rows of a run over several ports (see port_rows.h).
#include "production/port_rows.h"

#include "device/flows.h"
#include "device/result_codes.h"
#include "device/texts.h"

namespace vantor::production {

namespace {

using device::BootOutcomeName;
using device::CodeMeaning;
using device::DetectedState;
using device::FlowPhase;

// As the record says it ("no device" when nothing answered).
std::string Answered(const DetectedState& state) {
  return device::DescribeState(state);
}

// The row's result and message, with the code's meaning where the message shows it bare.
void SetResult(PortRow& row, std::int32_t code, std::string_view message) {
  row.code = code;
  row.message = message;
  if (const auto meaning = CodeMeaning(code, message))
    row.message += "\n" + *meaning;
}

class RowObserver final : public device::FlowObserver {
 public:
  RowObserver(PortRows& rows, PortRow& row, std::unique_ptr<device::FlowObserver> next,
              std::function<void(const PortRow&, RowChange)> changed)
      : m_rows(rows), m_row(row), m_next(std::move(next)), m_changed(std::move(changed)) {}

  void PortOpened(const std::string& port) override {
    Update([&](device::FlowObserver& r) { r.PortOpened(port); }, [&] { m_row.step = "detecting"; });
  }
  void Detected(const DetectedState& state, std::string_view purpose) override {
    Update([&](device::FlowObserver& r) { r.Detected(state, purpose); },
           [&] {
             if (purpose == "detect") {
               m_row.answered = Answered(state);
               m_row.step = "detected";
             } else {
               m_row.step = "detected again: " + Answered(state);
             }
           });
  }
  void BootRequested(protocol::BootModeOutcome outcome) override {
    Update([&](device::FlowObserver& r) { r.BootRequested(outcome); },
           [&] { m_row.step = std::string("~dboot ") + BootOutcomeName(outcome); });
  }
  void BootloaderEntered(std::uint32_t version) override {
    Update([&](device::FlowObserver& r) { r.BootloaderEntered(version); },
           [&] { m_row.step = "bootloader " + device::FormatBootVersion(version); });
  }
  void SegmentStarted(std::size_t index, std::size_t count, std::uint32_t address,
                      std::int32_t length, std::string_view what) override {
    Update([&](device::FlowObserver& r) { r.SegmentStarted(index, count, address, length, what); },
           [&] {
             m_row.step =
                 std::string(what) + " " + std::to_string(index + 1) + "/" + std::to_string(count);
             if (what == "verify" && index == 0) {
               // The verify has its own percent and rate.
               m_row.percent = 0;
               m_row.progressSince.reset();
             }
           });
  }
  void Progress(std::int32_t percent) override {
    Update([&](device::FlowObserver& r) { r.Progress(percent); },
           [&] {
             m_row.percent = percent;
             if (!m_row.progressSince)
               m_row.progressSince = PortRow::Clock::now();
           });
  }
  void SegmentDone(std::size_t index, std::uint32_t address, std::int32_t result) override {
    Update([&](device::FlowObserver& r) { r.SegmentDone(index, address, result); }, [] {});
  }
  void Phase(FlowPhase phase) override {
    Update([&](device::FlowObserver& r) { r.Phase(phase); },
           [&] {
             m_row.step =
                 phase == FlowPhase::kRestartWait ? "waiting for the restart" : "detecting again";
             m_row.progressSince.reset();  // nothing moves: no rate, no estimate
           });
  }
  void Message(std::string_view text) override {
    Update([&](device::FlowObserver& r) { r.Message(text); }, [] {});
  }
  void Saved(std::string_view region, const std::string& path, std::size_t bytes) override {
    Update([&](device::FlowObserver& r) { r.Saved(region, path, bytes); }, [] {});
  }
  void Verify(std::int32_t result, std::optional<std::uint32_t> firstDifference,
              double seconds) override {
    Update([&](device::FlowObserver& r) { r.Verify(result, firstDifference, seconds); },
           [&] { m_row.step = result == 0 && !firstDifference ? "verified" : "verify failed"; });
  }
  void Attempt(int number, int total) override {
    Update([&](device::FlowObserver& r) { r.Attempt(number, total); },
           [&] {
             m_row.attempt = number;
             m_row.step = "attempt " + std::to_string(number) + " of " + std::to_string(total);
             m_row.percent = 0;
             m_row.progressSince.reset();
             m_row.code.reset();  // a failed attempt's result is not the device's
             m_row.message.clear();
           },
           RowChange::kAttempt);
  }
  void UnitNumber(std::uint64_t number) override {
    Update([&](device::FlowObserver& r) { r.UnitNumber(number); }, [&] { m_row.unit = number; });
  }
  void Result(std::int32_t code, std::string_view message) override {
    Update([&](device::FlowObserver& r) { r.Result(code, message); },
           [&] {
             SetResult(m_row, code, message);
             m_row.step = code == 0 ? "done" : "failed";
           },
           RowChange::kResult);
  }

 private:
  template <typename Pass, typename Apply>
  void Update(Pass pass, Apply apply, RowChange change = RowChange::kOther) {
    std::lock_guard lock(m_rows.mutex());
    if (m_next)
      pass(*m_next);
    apply();
    if (m_changed)
      m_changed(m_row, change);
  }

  PortRows& m_rows;
  PortRow& m_row;
  std::unique_ptr<device::FlowObserver> m_next;
  std::function<void(const PortRow&, RowChange)> m_changed;
};

}  // namespace

PortRow& PortRows::Add(std::string port) {
  auto row = std::make_unique<PortRow>();
  row->port = std::move(port);
  m_rows.push_back(std::move(row));
  return *m_rows.back();
}

std::unique_ptr<device::FlowObserver> MakeRowObserver(
    PortRows& rows, PortRow& row, std::unique_ptr<device::FlowObserver> next,
    std::function<void(const PortRow&, RowChange)> changed) {
  return std::make_unique<RowObserver>(rows, row, std::move(next), std::move(changed));
}

void SettleRow(PortRow& row, const device::JobOutcome& outcome) {
  row.attempt = outcome.attempts;
  row.answered = outcome.last.portOpened ? device::DescribeState(outcome.last.first) : "-";
  SetResult(row, outcome.result.code, outcome.result.message);
  row.recordError = outcome.recordError.value_or("");
}

void FinishRow(PortRow& row, bool ok, bool cancelled) {
  row.running = false;
  row.ok = ok;
  row.cancelled = cancelled;
  row.seconds = std::chrono::duration<double>(PortRow::Clock::now() - row.started).count();
  if (cancelled) {
    row.code = serial::kErrorCancelled;
    row.message = device::kCancelledText;
    row.step = "cancelled";
    return;
  }
  if (!row.code) {
    row.code = -1;
    if (row.message.empty())
      row.message = "the worker ended without a result";
  }
  row.step = *row.code == 0 ? "done" : "failed";
}

}  // namespace vantor::production
