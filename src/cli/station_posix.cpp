// POSIX: the station's watch loop. A poll every 200 ms compares the matching ports with those
// seen; a new one gets a worker. Signals arrive through a pipe: the first stops taking new
// devices, the second cancels the running workers. A terminal shows a live table; otherwise plain
// lines, or with --json the workers' events and the station's own.
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>

#include "cli/cli.h"
#include "cli/json_events.h"
#include "cli/port_workers.h"
#include "cli/record.h"
#include "cli/several_ports.h"
#include "cli/station.h"
#include "serial/cancel.h"
#include "serial/port_enumeration.h"

namespace vantor::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kScanInterval = std::chrono::milliseconds(200);
constexpr auto kDrawInterval = std::chrono::milliseconds(100);
constexpr int kExitCancelled = 130;

int g_signalPipe = -1;

void OnSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe, &byte, 1);
  errno = saved;
}

// SIGINT and SIGTERM go to a pipe while the station runs; the previous handlers come back after.
class SignalPipe {
 public:
  SignalPipe() {
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
      return;
    g_signalPipe = m_fds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
  }
  ~SignalPipe() {
    if (m_fds[0] < 0)
      return;
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    g_signalPipe = -1;
    ::close(m_fds[0]);
    ::close(m_fds[1]);
  }
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;
  int fd() const { return m_fds[0]; }
  // The signals that arrived since the last call.
  int Take() {
    char bytes[16];
    int count = 0;
    ssize_t n;
    while ((n = ::read(m_fds[0], bytes, sizeof bytes)) > 0)
      count += static_cast<int>(n);
    return count;
  }

 private:
  int m_fds[2] = {-1, -1};
  struct sigaction m_oldInt {};
  struct sigaction m_oldTerm {};
};

struct Row {
  Worker worker;
  std::string usbSerial;
  bool running = true;
};

std::string Rate(const Row& row, std::int64_t totalBytes, std::string* eta) {
  const Worker& w = row.worker;
  if (!row.running || !w.progressSince || w.percent <= 0) {
    *eta = "-";
    return "-";
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - *w.progressSince).count();
  const double done = static_cast<double>(totalBytes) * w.percent / 100.0;
  if (seconds <= 0) {
    *eta = "-";
    return "-";
  }
  const double rate = done / seconds;
  char text[32];
  std::snprintf(text, sizeof text, "%.0fs", (static_cast<double>(totalBytes) - done) / rate);
  *eta = text;
  std::snprintf(text, sizeof text, "%.0f", rate);
  return text;
}

std::string ResultText(const Row& row) {
  const Worker& w = row.worker;
  if (row.running)
    return "";
  if (w.cancelled)
    return "cancelled";
  return *w.code == 0 ? "ok" : "failed " + std::to_string(*w.code);
}

std::string TableLine(const Row& row, std::int64_t totalBytes) {
  std::string eta;
  const std::string rate = Rate(row, totalBytes, &eta);
  char line[512];
  std::snprintf(line, sizeof line, "%-24s %-14s %-26s %4d%% %8s %6s %8d  %s",
                row.worker.port.c_str(), row.usbSerial.empty() ? "-" : row.usbSerial.c_str(),
                row.worker.step.substr(0, 26).c_str(), row.worker.percent, rate.c_str(),
                eta.c_str(), row.worker.attempt, ResultText(row).c_str());
  return line;
}

}  // namespace

std::vector<std::string> MatchStationPorts(const std::string& pattern) {
  std::vector<std::string> ports;
  if (IsUsbName(pattern)) {
    std::vector<PortInfo> described;
    for (const std::string& name : EnumerateComPorts())
      described.push_back(DescribeSystemPort(name));
    std::vector<const PortInfo*> found;
    std::string error;
    if (MatchUsbPorts(pattern, described, found, error)) {
      for (const PortInfo* p : found)
        ports.push_back(p->path);
    }
    return ports;
  }
  glob_t matches{};
  if (::glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
    for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
      struct stat target {};
      // stat follows links: a link whose device is gone does not count as a port.
      if (::stat(matches.gl_pathv[i], &target) == 0 && !S_ISDIR(target.st_mode))
        ports.emplace_back(matches.gl_pathv[i]);
    }
  }
  ::globfree(&matches);
  return ports;
}

int RunStation(Env& env, const StationOptions& options) {
  SignalPipe signals;
  const bool table = env.errIsTerminal && !env.quiet && !env.json;
  const bool lines = !table && !env.quiet && !env.json;
  std::vector<std::unique_ptr<Row>> rows;
  std::set<std::string> seen;  // ports flashed (or flashing) since they last appeared
  int started = 0;
  int finished = 0;
  int signalCount = 0;
  bool accepting = true;
  Clock::time_point lastScan{};
  Clock::time_point lastDraw{};
  std::size_t drawnRows = 0;

  auto say = [&](const std::string& port, const std::string& text) {
    if (lines)
      env.out << (port.empty() ? "station" : port) << ": " << text << "\n" << std::flush;
  };
  auto running = [&] {
    return std::count_if(rows.begin(), rows.end(), [](const auto& r) { return r->running; });
  };
  auto draw = [&](bool force) {
    if (!table || (!force && Clock::now() - lastDraw < kDrawInterval))
      return;
    if (drawnRows > 0)
      env.err << "\033[" << drawnRows << "A";
    char header[256];
    std::snprintf(header, sizeof header, "%-24s %-14s %-26s %5s %8s %6s %8s  %s", "port",
                  "usb serial", "phase", "%", "bytes/s", "ETA", "attempts", "result");
    env.err << "\r\033[K" << header << "\n";
    for (const auto& row : rows)
      env.err << "\r\033[K" << TableLine(*row, options.totalBytes) << "\n";
    env.err.flush();
    drawnRows = rows.size() + 1;
    lastDraw = Clock::now();
  };

  if (lines) {
    say("", "watching " + options.match +
                (options.count > 0 ? " for " + std::to_string(options.count) + " devices" : ""));
  }
  for (;;) {
    const auto now = Clock::now();
    if (accepting && now - lastScan >= kScanInterval) {
      lastScan = now;
      const std::vector<std::string> present = MatchStationPorts(options.match);
      // A port is flashed again only after it was seen gone while no worker used it.
      for (auto it = seen.begin(); it != seen.end();) {
        const bool busy = std::any_of(rows.begin(), rows.end(), [&](const auto& r) {
          return r->running && r->worker.port == *it;
        });
        if (!busy && std::find(present.begin(), present.end(), *it) == present.end())
          it = seen.erase(it);
        else
          ++it;
      }
      for (const std::string& port : present) {
        if (seen.count(port) || (options.count > 0 && started >= options.count))
          continue;
        seen.insert(port);
        ++started;
        auto row = std::make_unique<Row>();
        row->worker.port = port;
        row->worker.started = Clock::now();
        if (const auto usb = UsbIdentityOf(port))
          row->usbSerial = usb->serial;
        say(port, "appeared");
        if (!StartWorker(row->worker, StationWorkerArguments(options, port))) {
          row->running = false;
          row->worker.code = -1;
          ++finished;
          say(port, "failed: " + row->worker.message);
        }
        rows.push_back(std::move(row));
        draw(true);
      }
    }
    if (options.count > 0 && finished >= options.count)
      break;
    if (!accepting && running() == 0)
      break;

    std::vector<pollfd> fds{{signals.fd(), POLLIN, 0}};
    std::vector<Row*> owners{nullptr};
    for (auto& row : rows) {
      if (row->worker.fd >= 0) {
        fds.push_back({row->worker.fd, POLLIN, 0});
        owners.push_back(row.get());
      }
    }
    const int timeout = accepting ? static_cast<int>(kScanInterval.count()) : 500;
    if (::poll(fds.data(), fds.size(), table ? std::min(timeout, 100) : timeout) < 0 &&
        errno != EINTR)
      break;
    const auto woken = Clock::now();

    if (fds[0].revents != 0) {
      signalCount += signals.Take();
      if (signalCount >= 1 && accepting) {
        accepting = false;
        say("", "stopping: no new devices; " + std::to_string(running()) +
                    " running (a second signal cancels them)");
      }
      if (signalCount >= 2) {
        for (auto& row : rows) {
          if (row->running && !row->worker.cancelled) {
            row->worker.cancelled = true;
            CancelWorker(row->worker);
          }
        }
      }
    }
    for (std::size_t k = 1; k < fds.size(); ++k) {
      if (fds[k].revents == 0)
        continue;
      Row& row = *owners[k];
      Worker& w = row.worker;
      std::vector<std::string> received;
      const bool open = ReadWorkerLines(w, received);
      for (const std::string& line : received) {
        if (env.json) {
          env.out << line << "\n" << std::flush;
          continue;
        }
        // A retry is worth a line; the first attempt is the device's start.
        const auto event = ParseFlatJson(line);
        if (event && event->count("attempt") && event->at("attempt") != "1")
          say(w.port, "attempt " + event->at("attempt") + " of " + event->at("of"));
      }
      if (open)
        continue;
      WaitWorker(w);
      if (w.cancelled) {
        w.code = kErrorCancelled;
        w.message = "cancelled";
      }
      row.running = false;
      ++finished;
      w.step = w.cancelled ? "cancelled" : (*w.code == 0 ? "done" : "failed");
      if (env.json) {
        env.out << "{\"port\":" << JsonString(w.port)
                << ",\"event\":\"finished\",\"code\":" << *w.code
                << ",\"message\":" << JsonString(w.message) << ",\"attempts\":" << w.attempt
                << ",\"seconds\":" << w.seconds << "}\n"
                << std::flush;
      }
      say(w.port, (*w.code == 0 ? "done" : ResultText(row)) + " after " +
                      std::to_string(w.attempt) + " attempt(s)" +
                      (w.message.empty() ? "" : ": " + OneLine(w.message)));
    }
    draw(false);
    PauseBeforeReading(signals.fd(), woken);
  }
  // The loop ends with workers running only when a poll failed: none outlives the station.
  for (auto& row : rows) {
    if (row->running) {
      row->worker.cancelled = true;
      CancelWorker(row->worker);
      WaitWorker(row->worker);
      row->worker.code = kErrorCancelled;
      row->worker.message = "cancelled";
      row->running = false;
      ++finished;
    }
  }
  draw(true);

  int failed = 0;
  int cancelled = 0;
  std::vector<const Worker*> summary;
  for (const auto& row : rows) {
    summary.push_back(&row->worker);
    if (row->running)
      continue;
    if (row->worker.cancelled)
      ++cancelled;
    else if (*row->worker.code != 0 || row->worker.exitCode != 0)
      ++failed;
  }
  const int succeeded = finished - failed - cancelled;
  if (env.json) {
    env.out << "{\"port\":\"\",\"event\":\"summary\",\"devices\":" << finished
            << ",\"succeeded\":" << succeeded << ",\"failed\":" << failed
            << ",\"cancelled\":" << cancelled << "}\n"
            << std::flush;
  } else {
    PrintSummary(env, summary);
    env.out << finished << " device(s): " << succeeded << " succeeded, " << failed << " failed, "
            << cancelled << " cancelled\n"
            << std::flush;
  }
  if (cancelled > 0)
    return kExitCancelled;
  return failed > 0 ? kExitFailure : kExitOk;
}

}  // namespace vantor::cli
