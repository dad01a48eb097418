// The production station's watch loop (see station.h). A scan every interval compares the
// matching ports with those seen; a new one gets a worker. The loop sleeps in the pool's
// WaitForEnded, which a finished worker, the interval or Stop/Cancel end.
#include "production/station.h"

#include <algorithm>
#include <utility>

#include "serial/port_identity.h"
#include "serial/port_match.h"

namespace vantor::production {

using Clock = std::chrono::steady_clock;

Station::Station(StationSettings settings, const device::Job& job, StationObserver& observer)
    : m_settings(std::move(settings)), m_job(job), m_observer(observer) {}

Station::~Station() = default;

void Station::Stop() {
  m_stopAsked = true;
  m_pool.Notify();
}

void Station::Cancel() {
  m_cancelAsked = true;
  Stop();
}

void Station::Scan() {
  const std::vector<std::string> present = serial::MatchStationPorts(m_settings.match);
  std::lock_guard lock(m_rows.mutex());
  if (!m_scanned && m_settings.skipPresent)
    m_seen.insert(present.begin(), present.end());  // as if flashed: wait for them to go
  m_scanned = true;
  // A port is flashed again only after it was seen gone while no worker used it.
  for (auto it = m_seen.begin(); it != m_seen.end();) {
    const bool busy = std::any_of(m_rows.rows().begin(), m_rows.rows().end(),
                                  [&](const auto& r) { return r->running && r->port == *it; });
    if (!busy && std::find(present.begin(), present.end(), *it) == present.end())
      it = m_seen.erase(it);
    else
      ++it;
  }
  for (const std::string& port : present) {
    if (m_seen.count(port) ||
        (m_settings.count > 0 && m_started >= static_cast<std::size_t>(m_settings.count)))
      continue;
    m_seen.insert(port);
    Start(port);
  }
}

void Station::Start(const std::string& port) {
  ++m_started;
  PortRow& row = m_rows.Add(port);
  if (const auto usb = serial::UsbIdentityOf(port))
    row.usbSerial = usb->serial;
  m_observer.Appeared(row);
  std::shared_ptr<device::FlowObserver> observer = MakeRowObserver(
      m_rows, row, m_observer.FlowObserverFor(port),
      [this](const PortRow& r, RowChange change) { m_observer.Changed(r, change); });
  std::string error;
  const bool started = m_pool.Start(
      port,
      [this, port, observer, &row](const serial::CancelToken& cancel) {
        const device::JobOutcome outcome = device::RunJob(port, m_job, &cancel, *observer);
        std::lock_guard lock(m_rows.mutex());
        SettleRow(row, outcome);  // the row then says what the record says
        if (outcome.recordNote) {
          row.note = "record spooled";
          ++m_spooled;
        }
        return outcome.ok();
      },
      error);
  if (!started) {
    row.message = error;
    FinishRow(row, false, false);
    ++m_finished;
    m_observer.NotStarted(row);
  }
}

void Station::Finished(const device::WorkerPool::Ended& ended) {
  std::lock_guard lock(m_rows.mutex());
  for (const auto& r : m_rows.rows()) {
    if (r->port != ended.port || !r->running)
      continue;
    FinishRow(*r, ended.ok, ended.cancelled);
    ++m_finished;
    m_observer.Finished(*r);
  }
}

void Station::TakeControl() {
  if (m_stopAsked && m_accepting) {
    m_accepting = false;
    std::lock_guard lock(m_rows.mutex());
    m_observer.Stopping(Running());
  }
  if (m_cancelAsked && !m_cancelling) {
    m_cancelling = true;
    m_pool.CancelAll();
  }
}

StationTotals Station::Totals() const {
  StationTotals totals;
  for (const auto& row : m_rows.rows()) {
    if (row->running)
      continue;
    ++totals.devices;
    if (row->cancelled)
      ++totals.cancelled;
    else if (!row->ok)
      ++totals.failed;
  }
  totals.succeeded = totals.devices - totals.failed - totals.cancelled;
  totals.spooled = m_spooled;
  return totals;
}

StationTotals Station::Run() {
  {
    std::lock_guard lock(m_rows.mutex());
    m_observer.Watching(m_settings);
  }
  Clock::time_point lastScan{};
  for (;;) {
    TakeControl();
    if (m_accepting && Clock::now() - lastScan >= m_settings.scanInterval) {
      lastScan = Clock::now();
      Scan();
    }
    if (m_settings.count > 0 && m_finished >= static_cast<std::size_t>(m_settings.count))
      break;
    if (!m_accepting && Running() == 0)
      break;
    // Wakes when a worker ends, for the next scan, or when told to stop or cancel.
    auto wait = m_settings.scanInterval;
    if (m_accepting) {
      const auto untilScan = std::chrono::duration_cast<std::chrono::milliseconds>(
          lastScan + m_settings.scanInterval - Clock::now());
      wait = std::max(std::chrono::milliseconds(1), untilScan);
    }
    for (const auto& ended : m_pool.WaitForEnded(wait))
      Finished(ended);
    m_observer.Waited();
  }
  std::lock_guard lock(m_rows.mutex());
  std::vector<const PortRow*> rows;
  for (const auto& row : m_rows.rows())
    rows.push_back(row.get());
  const StationTotals totals = Totals();
  m_observer.Ended(totals, rows);
  return totals;
}

}  // namespace vantor::production
