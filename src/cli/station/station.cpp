// "vantor station": its command line, the checks made before anything starts, and the watch
// loop. A scan every 200 ms compares the matching ports with those seen; a new one gets a worker.
// Signals are counted: the first stops taking new devices, the second cancels the running
// workers. A terminal shows a live table; otherwise plain lines, or with --json the workers'
// events and the station's own.
#include "cli/station/station.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "cli/cli.h"
#include "cli/images.h"
#include "cli/ports.h"
#include "cli/report/live_table.h"
#include "cli/report/port_rows.h"
#include "cli/station/record.h"
#include "cli/terminal.h"
#include "device/worker_pool.h"
#include "serial/port_enumeration.h"
#include "serial/port_identity.h"

namespace vantor::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kScanInterval = std::chrono::milliseconds(200);
constexpr auto kDrawInterval = std::chrono::milliseconds(100);
constexpr int kExitCancelled = 130;

std::string Rate(const PortRow& row, std::int64_t totalBytes, std::string* eta) {
  *eta = "-";
  if (!row.running || !row.progressSince || row.percent <= 0)
    return "-";
  const double seconds = std::chrono::duration<double>(Clock::now() - *row.progressSince).count();
  const double done = static_cast<double>(totalBytes) * row.percent / 100.0;
  if (seconds <= 0)
    return "-";
  const double rate = done / seconds;
  char text[32];
  std::snprintf(text, sizeof text, "%.0fs", (static_cast<double>(totalBytes) - done) / rate);
  *eta = text;
  std::snprintf(text, sizeof text, "%.0f", rate);
  return text;
}

std::string ResultText(const PortRow& row) {
  if (row.running)
    return "";
  if (row.cancelled)
    return "cancelled";
  return (*row.code == 0 ? "ok" : "failed " + std::to_string(*row.code)) +
         (row.note.empty() ? "" : ", " + row.note);
}

std::string TableHeader() {
  char header[256];
  std::snprintf(header, sizeof header, "%-24s %-14s %-26s %5s %8s %6s %8s  %s", "port",
                "usb serial", "phase", "%", "bytes/s", "ETA", "attempts", "result");
  return header;
}

std::string TableLine(const PortRow& row, std::int64_t totalBytes) {
  std::string eta;
  const std::string rate = Rate(row, totalBytes, &eta);
  char line[512];
  std::snprintf(line, sizeof line, "%-24s %-14s %-26s %4d%% %8s %6s %8d  %s", row.port.c_str(),
                row.usbSerial.empty() ? "-" : row.usbSerial.c_str(), row.step.substr(0, 26).c_str(),
                row.percent, rate.c_str(), eta.c_str(), row.attempt, ResultText(row).c_str());
  return line;
}

// One run of the station: its rows, its workers and what it has said.
class Station {
 public:
  Station(Env& env, const StationOptions& options, const device::Job& job)
      : m_env(env),
        m_options(options),
        m_job(job),
        m_totalBytes(job.segments->TotalBytes()),
        m_table(!env.errIsTerminal || env.quiet || env.json ? nullptr : &m_liveTable),
        m_lines(m_table == nullptr && !env.quiet && !env.json),
        m_liveTable(env.err) {}

  int Run();

 private:
  void Say(const std::string& port, const std::string& text);  // caller holds the lock
  void Scan();
  void Start(const std::string& port);
  void Finished(const device::WorkerPool::Ended& ended);
  void TakeSignals();
  void Draw(bool force);
  int Summary();
  std::size_t Running() const { return m_started - m_finished; }

  Env& m_env;
  const StationOptions& m_options;
  const device::Job& m_job;
  const std::int64_t m_totalBytes;
  LiveTable* m_table;  // null: no live table
  const bool m_lines;  // a line per event
  LiveTable m_liveTable;
  CountedSignals m_signals;
  PortRows m_rows;
  device::WorkerPool m_pool;     // declared after the rows: its workers end before the rows go
  std::set<std::string> m_seen;  // ports flashed (or flashing) since they last appeared
  std::size_t m_started = 0;
  std::size_t m_finished = 0;
  std::size_t m_spooled = 0;  // records the database did not take, kept in the spool
  bool m_accepting = true;
  bool m_cancelling = false;
  Clock::time_point m_lastScan{};
  Clock::time_point m_lastDraw{};
};

void Station::Say(const std::string& port, const std::string& text) {
  if (m_lines)
    m_env.out << (port.empty() ? "station" : port) << ": " << text << "\n" << std::flush;
}

void Station::Scan() {
  m_lastScan = Clock::now();
  const std::vector<std::string> present = MatchStationPorts(m_options.match);
  std::lock_guard lock(m_rows.mutex());
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
        (m_options.count > 0 && m_started >= static_cast<std::size_t>(m_options.count)))
      continue;
    m_seen.insert(port);
    Start(port);
  }
}

void Station::Start(const std::string& port) {
  ++m_started;
  PortRow& row = m_rows.Add(port);
  if (const auto usb = UsbIdentityOf(port))
    row.usbSerial = usb->serial;
  Say(port, "appeared");
  std::shared_ptr<Reporter> observer =
      MakeRowObserver(m_rows, row, m_env.json ? MakeJsonReporter(m_env.out, port) : nullptr,
                      [this](const PortRow& r, RowChange change) {
                        // A retry is worth a line; the first attempt is the device's start.
                        if (change == RowChange::kAttempt && r.attempt != 1)
                          Say(r.port, r.step);
                      });
  std::string error;
  const bool started = m_pool.Start(
      port,
      [this, port, observer, &row](const CancelToken& cancel) {
        const device::JobOutcome outcome = device::RunJob(port, m_job, &cancel, *observer);
        if (outcome.recordNote) {
          std::lock_guard lock(m_rows.mutex());
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
    Say(port, "failed: " + error);
  }
}

void Station::Finished(const device::WorkerPool::Ended& ended) {
  std::lock_guard lock(m_rows.mutex());
  for (const auto& r : m_rows.rows()) {
    if (r->port != ended.port || !r->running)
      continue;
    PortRow& row = *r;
    FinishRow(row, ended.ok, ended.cancelled);
    ++m_finished;
    if (m_env.json) {
      m_env.out << "{\"port\":" << JsonString(row.port)
                << ",\"event\":\"finished\",\"code\":" << *row.code
                << ",\"message\":" << JsonString(row.message)
                << ",\"spooled\":" << (row.note.empty() ? "false" : "true")
                << ",\"attempts\":" << row.attempt << ",\"seconds\":" << row.seconds << "}\n"
                << std::flush;
    }
    Say(row.port, (*row.code == 0 ? "done" : ResultText(row)) + " after " +
                      std::to_string(row.attempt) + " attempt(s)" +
                      (row.note.empty() || *row.code != 0 ? "" : ", " + row.note) +
                      (row.message.empty() ? "" : ": " + OneLine(row.message)));
  }
}

void Station::TakeSignals() {
  const int count = m_signals.count();
  if (count >= 1 && m_accepting) {
    m_accepting = false;
    std::lock_guard lock(m_rows.mutex());
    Say("", "stopping: no new devices; " + std::to_string(Running()) +
                " running (a second signal cancels them)");
  }
  if (count >= 2 && !m_cancelling) {
    m_cancelling = true;
    m_pool.CancelAll();
  }
}

void Station::Draw(bool force) {
  if (m_table == nullptr || (!force && Clock::now() - m_lastDraw < kDrawInterval))
    return;
  std::vector<std::string> lines{TableHeader()};
  std::lock_guard lock(m_rows.mutex());
  for (const auto& row : m_rows.rows())
    lines.push_back(TableLine(*row, m_totalBytes));
  m_table->Draw(lines);
  m_lastDraw = Clock::now();
}

int Station::Run() {
  {
    std::lock_guard lock(m_rows.mutex());
    Say("",
        "watching " + m_options.match +
            (m_options.count > 0 ? " for " + std::to_string(m_options.count) + " devices" : ""));
  }
  for (;;) {
    if (m_accepting && Clock::now() - m_lastScan >= kScanInterval) {
      Scan();
      Draw(true);
    }
    if (m_options.count > 0 && m_finished >= static_cast<std::size_t>(m_options.count))
      break;
    if (!m_accepting && Running() == 0)
      break;
    // Wakes when a worker ends, for the next scan, for the table, and to read the signals.
    const auto wait = m_table != nullptr || !m_accepting ? kDrawInterval : kScanInterval;
    for (const auto& ended : m_pool.WaitForEnded(wait))
      Finished(ended);
    TakeSignals();
    Draw(false);
  }
  Draw(true);
  return Summary();
}

int Station::Summary() {
  int failed = 0;
  int cancelled = 0;
  std::vector<const PortRow*> summary;
  for (const auto& row : m_rows.rows()) {
    summary.push_back(row.get());
    if (row->cancelled)
      ++cancelled;
    else if (!row->ok)
      ++failed;
  }
  const int finished = static_cast<int>(m_finished);
  const int succeeded = finished - failed - cancelled;
  if (m_env.json) {
    m_env.out << "{\"port\":\"\",\"event\":\"summary\",\"devices\":" << finished
              << ",\"succeeded\":" << succeeded << ",\"failed\":" << failed
              << ",\"cancelled\":" << cancelled << ",\"spooled\":" << m_spooled << "}\n"
              << std::flush;
  } else {
    PrintSummary(m_env.out, summary);
    m_env.out << finished << " device(s): " << succeeded << " succeeded, " << failed << " failed, "
              << cancelled << " cancelled\n";
    if (m_spooled > 0)
      m_env.out << m_spooled << " record(s) spooled to " << m_options.production.spool
                << " (load them with 'vantor record import')\n";
    m_env.out << std::flush;
  }
  if (cancelled > 0)
    return kExitCancelled;
  return failed > 0 ? kExitFailure : kExitOk;
}

}  // namespace

std::vector<std::string> MatchStationPorts(const std::string& pattern) {
  if (!IsUsbName(pattern))
    return MatchPortPattern(pattern);
  std::vector<PortInfo> described;
  for (const std::string& name : EnumerateComPorts())
    described.push_back(DescribeSystemPort(name));
  std::vector<const PortInfo*> found;
  std::string error;
  std::vector<std::string> ports;
  if (MatchUsbPorts(pattern, described, found, error)) {
    for (const PortInfo* p : found)
      ports.push_back(p->path);
  }
  return ports;
}

int RunStation(Env& env, const StationOptions& options, const device::Job& job) {
  Station station(env, options, job);
  return station.Run();
}

void AddStationCommand(CLI::App& app, Env& env, Action& action) {
  auto options = std::make_shared<StationOptions>();
  auto* station = app.add_subcommand(
      "station",
      "Flash every device that appears on the matching ports, each in its own worker; run until "
      "--count devices finished or until SIGINT/SIGTERM (the first stops taking new devices, the "
      "second cancels the running ones)");
  station
      ->add_option("--match", options->match,
                   "Ports to watch: usb:VID:PID[:SERIAL] or a path glob such as "
                   "'/dev/serial/by-id/usb-*'")
      ->required();
  station->add_flag("--write", options->write,
                    "Write slots into a running bootloader (as 'write') instead of downloading "
                    "areas (as 'download')");
  station->add_flag("--verify", options->verify, "Read every segment back and compare it");
  station->add_flag("--no-redetect", options->noRedetect,
                    "Do not detect the device again after a download");
  station->add_option("--retries", options->retries, "Try a failed device again up to N times")
      ->check(CLI::NonNegativeNumber);
  station->add_option("--count", options->count, "Exit once N devices have finished")
      ->check(CLI::PositiveNumber);
  AddProductionOptions(station, options->production, false);
  station->add_option("images", options->images, "TARGET=FILE: areas, or slots with --write")
      ->required();
  station->callback([&env, &action, options] {
    action = [&env, options] {
      // Every file is read and checked once, before a port is watched.
      LoadedImages images;
      std::string error;
      if (!LoadImages(options->write ? device::SlotPlaces() : device::AreaPlaces(), options->images,
                      images, error)) {
        env.err << "vantor: " << error << "\n";
        return kExitUsage;
      }
      std::vector<const PortInfo*> none;
      if (IsUsbName(options->match) && !MatchUsbPorts(options->match, {}, none, error)) {
        env.err << "vantor: " << error << "\n";
        return kExitUsage;
      }
      device::Job job = MakeJob(images, options->write);
      job.verify = options->verify;
      job.redetect = !options->write && !options->noRedetect;
      job.retries = options->retries;
      job.trace = env.trace;
      if (!ApplyProductionOptions(env, options->production, images, options->verify, job, error)) {
        env.err << "vantor: " << error << "\n";
        return kExitUsage;
      }
      return RunStation(env, *options, job);
    };
  });
}

}  // namespace vantor::cli
