// "vantor station" on a terminal (see station_command.h): the command line, the checks before
// anything starts, and what the station tells shown as a live table (stderr a terminal), plain
// lines, or with --json the workers' events and the station's own.
#include "cli/station_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/images.h"
#include "cli/ports.h"
#include "cli/report/live_table.h"
#include "cli/report/port_table.h"
#include "cli/terminal.h"
#include "production/json_string.h"
#include "production/station.h"
#include "serial/port_identity.h"

namespace vantor::cli {

using production::LoadedImages;
using production::PortRow;

namespace {

using nlohmann::ordered_json;
using production::RoundedTo;
using production::RowChange;
using production::StationTotals;
using production::Utf8Text;
using Clock = std::chrono::steady_clock;
constexpr auto kDrawInterval = std::chrono::milliseconds(100);
constexpr int kExitCancelled = 130;

// What the station tells, on the terminal; signals counted here become Stop and Cancel.
class StationFrontEnd final : public production::StationObserver {
 public:
  StationFrontEnd(Env& env, const StationOptions& options, const device::Job& job)
      : m_env(env),
        m_options(options),
        m_totalBytes(job.segments->TotalBytes()),
        m_table(!env.errIsTerminal || env.quiet || env.json ? nullptr : &m_liveTable),
        m_lines(m_table == nullptr && !env.quiet && !env.json),
        m_liveTable(env.err) {}

  void Control(production::Station& station) { m_station = &station; }
  int exitCode() const { return m_exitCode; }

  void Watching(const production::StationSettings& settings) override {
    m_match = settings.match;
    m_count = settings.count;
    Say("", "watching " + settings.match +
                (settings.count > 0 ? " for " + std::to_string(settings.count) + " devices" : "") +
                (settings.skipPresent ? " (devices present now wait until plugged in again)" : ""));
  }
  void Appeared(const PortRow& row) override { Say(row.port, "appeared"); }
  std::unique_ptr<device::FlowObserver> FlowObserverFor(const std::string& port) override {
    return m_env.json ? MakeJsonReporter(m_env.out, port) : nullptr;
  }
  void Changed(const PortRow& row, RowChange change) override {
    // A retry is worth a line; the first attempt is the device's start.
    if (change == RowChange::kAttempt && row.attempt != 1)
      Say(row.port, row.step);
    DrawLocked(false);
  }
  void Finished(const PortRow& row) override {
    if (m_env.json) {
      const ordered_json e{
          {"port", Utf8Text(row.port)},
          {"event", "finished"},
          {"code", *row.code},
          {"message", Utf8Text(row.message)},
          {"spooled", !row.note.empty()},
          {"record_error", row.recordError.empty() ? ordered_json(nullptr)
                                                   : ordered_json(Utf8Text(row.recordError))},
          {"attempts", row.attempt},
          {"seconds", RoundedTo(row.seconds, 3)}};
      m_env.out << e.dump() << "\n" << std::flush;
    }
    const std::string message = RowMessage(row);
    Say(row.port, (row.ok                    ? "done"
                   : row.recordError.empty() ? ResultText(row)
                                             : "failed") +
                      " after " + std::to_string(row.attempt) + " attempt(s)" +
                      (row.note.empty() || *row.code != 0 ? "" : ", " + row.note) +
                      (message.empty() ? "" : ": " + message));
  }
  void NotStarted(const PortRow& row) override { Say(row.port, "failed: " + row.message); }
  void Stopping(std::size_t running) override {
    m_stopping = true;
    // A hang-up stops and cancels at once: no second signal is to be asked for.
    Say("", "stopping: no new devices; " + std::to_string(running) +
                (m_cancelling ? " running, cancelled" : " running (a second signal cancels them)"));
  }
  void Waited() override {
    const int count = m_signals.count();
    if (count >= 1 && m_station != nullptr)
      m_station->Stop();
    if (count >= 2 && m_station != nullptr) {
      m_station->Cancel();
      m_cancelling = true;
    }
    if (m_station != nullptr) {
      std::lock_guard lock(m_station->rows().mutex());
      DrawLocked(false);
    }
  }
  void Ended(const StationTotals& totals, const std::vector<const PortRow*>& rows) override {
    DrawLocked(true);
    if (m_env.json) {
      const ordered_json e{{"port", ""},
                           {"event", "summary"},
                           {"devices", totals.devices},
                           {"succeeded", totals.succeeded},
                           {"failed", totals.failed},
                           {"cancelled", totals.cancelled},
                           {"spooled", totals.spooled}};
      m_env.out << e.dump() << "\n" << std::flush;
    } else {
      PrintSummary(m_env.out, rows, m_env.outColumns);
      m_env.out << totals.devices << " device(s): " << totals.succeeded << " succeeded, "
                << totals.failed << " failed, " << totals.cancelled << " cancelled\n";
      if (totals.spooled > 0)
        m_env.out << totals.spooled << " record(s) spooled to " << m_options.production.spool
                  << " (load them with 'vantor record import')\n";
      m_env.out << std::flush;
    }
    // Ended by signals: 128 + the one that cancelled (a hang-up always ends the run).
    const int signo = m_signals.cancelSignal();
    if (signo != 0 && (totals.cancelled > 0 || signo == kSignalHangUp))
      m_exitCode = 128 + signo;
    else if (totals.cancelled > 0)
      m_exitCode = kExitCancelled;
    else
      m_exitCode = totals.failed > 0 ? kExitFailure : kExitOk;
  }

 private:
  void Say(const std::string& port, const std::string& text) {
    if (m_lines)
      m_env.out << (port.empty() ? "station" : port) << ": " << text << "\n" << std::flush;
  }
  // Redraws the live table (at most every kDrawInterval unless `force`); the caller holds the
  // rows' lock.
  void DrawLocked(bool force) {
    if (m_table == nullptr || m_station == nullptr ||
        (!force && Clock::now() - m_lastDraw < kDrawInterval))
      return;
    std::vector<const PortRow*> rows;
    int done = 0;
    std::size_t running = 0;
    for (const auto& row : m_station->rows().rows()) {
      rows.push_back(row.get());
      if (row->running)
        ++running;
      else
        ++done;
    }
    const std::string status = m_cancelling ? CancellingStatus(running)
                               : m_stopping ? StoppingStatus(running)
                                            : WaitingStatus(m_match, m_count, done);
    m_table->Draw(TableLines(rows, status, m_totalBytes, StderrTerminalSize()));
    m_lastDraw = Clock::now();
  }

  Env& m_env;
  const StationOptions& m_options;
  const std::int64_t m_totalBytes;
  LiveTable* m_table;  // null: no live table
  const bool m_lines;  // a line per event
  LiveTable m_liveTable;
  CountedSignals m_signals;
  production::Station* m_station = nullptr;
  std::string m_match;  // what the status line says the station waits on
  int m_count = 0;
  bool m_stopping = false;
  bool m_cancelling = false;
  Clock::time_point m_lastDraw{};
  int m_exitCode = kExitFailure;
};

// An image argument that names a serial port (a character device, a /dev path, COMn): the shell
// expanded an unquoted --match glob into the ports it matched, and all but the first land here.
bool LooksLikePort(const std::string& argument) {
  if (argument.find('=') != std::string::npos)
    return false;
  std::error_code ec;
  if (std::filesystem::is_character_file(argument, ec))
    return true;
  if (argument.starts_with("/dev/") && !std::filesystem::is_regular_file(argument, ec))
    return true;
  std::string_view name = argument;
  if (name.starts_with("\\\\.\\"))
    name.remove_prefix(4);  // \\.\COM12
  return serial::IsComPortName(name);
}

}  // namespace

int RunStation(Env& env, const StationOptions& options, const device::Job& job) {
  StationFrontEnd frontEnd(env, options, job);
  production::StationSettings settings{options.match, options.count};
  settings.skipPresent = options.skipPresent;
  production::Station station(std::move(settings), job, frontEnd);
  frontEnd.Control(station);
  station.Run();
  return frontEnd.exitCode();
}

void AddStationCommand(CLI::App& app, Env& env, Action& action) {
  auto options = std::make_shared<StationOptions>();
  auto* station = app.add_subcommand(
      "station",
      "Flash every device that appears on the matching ports, each in its own worker; run until "
      "--count devices finished or until SIGINT/SIGTERM (the first stops taking new devices, the "
      "second cancels the running ones) or SIGHUP (cancels them at once)");
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
  station->add_flag("--skip-present", options->skipPresent,
                    "Leave the devices present at start alone until they are unplugged and come "
                    "back (a restarted station does not flash the units still in the fixture "
                    "again)");
  AddProductionOptions(station, options->production, false);
  station->add_option("images", options->images, "TARGET=FILE: areas, or slots with --write")
      ->required();
  station->callback([&env, &action, options] {
    action = [&env, options] {
      for (const std::string& image : options->images) {
        if (LooksLikePort(image)) {
          env.err << "vantor: '" << image
                  << "' names a serial port, not an image: quote the --match pattern so that "
                     "the shell does not expand it\n";
          return kExitUsage;
        }
      }
      // Every file is read and checked once, before a port is watched.
      LoadedImages images;
      std::string error;
      if (!LoadImages(options->write ? device::SlotPlaces() : device::AreaPlaces(), options->images,
                      images, error)) {
        env.err << "vantor: " << error << "\n";
        return kExitUsage;
      }
      std::vector<const serial::PortInfo*> none;
      if (serial::IsUsbName(options->match) &&
          !serial::MatchUsbPorts(options->match, {}, none, error)) {
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
