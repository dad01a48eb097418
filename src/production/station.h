// The production station: watches the ports a pattern matches, flashes every device that appears
// (each in a worker of the device layer's pool, at the same time as the others), retries what
// failed (device::RunJob), keeps the production record and ends after a count of devices, or once
// told to stop and the running devices have finished. It tells what happens to a StationObserver;
// a terminal, a page or a test shows it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/job.h"
#include "device/observer.h"
#include "device/worker_pool.h"
#include "production/port_rows.h"

namespace vantor::production {

struct StationSettings {
  std::string match;  // usb:VID:PID[:SERIAL] or a path glob (Windows: a port-name pattern)
  int count = 0;      // 0: until stopped
  std::chrono::milliseconds scanInterval{200};
  // Ports present at the first scan are flashed only after they go and come back: a station
  // restarted with units still in the fixture leaves them alone.
  bool skipPresent = false;
};

// What a run of the station came to.
struct StationTotals {
  int devices = 0;  // finished
  int succeeded = 0;
  int failed = 0;
  int cancelled = 0;
  std::size_t spooled = 0;  // records the database did not take, kept in the spool
};

// What the station tells. Every call but Waited is made with the rows' lock held (the rows are
// consistent and the calls never overlap); Changed comes from a device's worker, the others from
// the thread that runs the station. Waited comes without the lock.
class StationObserver {
 public:
  virtual ~StationObserver() = default;
  // The station starts watching `settings.match`.
  virtual void Watching(const StationSettings& /*settings*/) {}
  // A device appeared on `row.port`; its worker starts next.
  virtual void Appeared(const PortRow& /*row*/) {}
  // Where every step of the device's flow goes besides its row (the tool's JSON events, for
  // example); null: nowhere.
  virtual std::unique_ptr<device::FlowObserver> FlowObserverFor(const std::string& /*port*/) {
    return nullptr;
  }
  // A device's row changed: its phase, percent, attempt or result.
  virtual void Changed(const PortRow& /*row*/, RowChange /*change*/) {}
  // A device finished (ok, failed or cancelled); `row.note` tells where its record went when not
  // where asked.
  virtual void Finished(const PortRow& /*row*/) {}
  // No worker could be started for the device: `row.message` says why; it counts as failed.
  virtual void NotStarted(const PortRow& /*row*/) {}
  // The station takes no new devices; `running` devices are still at work.
  virtual void Stopping(std::size_t /*running*/) {}
  // The station woke (a device finished, the scan interval passed, or it was told something).
  virtual void Waited() {}
  // The run is over: the totals and every row, in the order the devices appeared.
  virtual void Ended(const StationTotals& /*totals*/, const std::vector<const PortRow*>& /*rows*/) {
  }
};

class Station {
 public:
  // `job` and `observer` outlive the station.
  Station(StationSettings settings, const device::Job& job, StationObserver& observer);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Watches and flashes until the count of devices finished, or until stopped and the running
  // ones ended.
  StationTotals Run();

  // From any thread: take no new devices; the running ones finish.
  void Stop();
  // From any thread: take no new devices and cancel the running ones (they are recorded as
  // cancelled).
  void Cancel();

  // The live state of every port; read it under rows().mutex().
  PortRows& rows() { return m_rows; }

 private:
  void Scan();
  void Start(const std::string& port);
  void Finished(const device::WorkerPool::Ended& ended);
  void TakeControl();
  StationTotals Totals() const;
  std::size_t Running() const { return m_started - m_finished; }

  const StationSettings m_settings;
  const device::Job& m_job;
  StationObserver& m_observer;
  PortRows m_rows;
  device::WorkerPool m_pool;     // declared after the rows: its workers end before the rows go
  std::set<std::string> m_seen;  // ports flashed (or flashing) since they last appeared
  std::size_t m_started = 0;
  std::size_t m_finished = 0;
  std::size_t m_spooled = 0;
  bool m_scanned = false;  // the first scan is over
  bool m_accepting = true;
  bool m_cancelling = false;
  std::atomic<bool> m_stopAsked{false};
  std::atomic<bool> m_cancelAsked{false};
};

}  // namespace vantor::production
