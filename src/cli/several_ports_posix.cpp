// POSIX: several devices at once, one worker per port. Each worker runs the same command line for
// one port with --json; the parent reads every worker's events from its pipe, draws one progress
// line per port on a terminal and prints a summary table at the end.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "cli/cli.h"
#include "cli/port_workers.h"
#include "cli/several_ports.h"

namespace vantor::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The command line for one port's worker: the same command without the port choices, with
// --json (its events for the parent) and --quiet, and the internal worker flag. A --trace stays:
// the worker traces its port through the parent's trace sink.
std::vector<std::string> WorkerArguments(const std::vector<std::string>& commandLine,
                                         const std::string& port) {
  std::vector<std::string> args{commandLine.front(), "--json", "--quiet"};
  for (std::size_t i = 1; i < commandLine.size(); ++i) {
    const std::string& a = commandLine[i];
    if (a == "-p" || a == "--port") {
      ++i;
      continue;
    }
    if (a.rfind("--port=", 0) == 0 || (a.rfind("-p", 0) == 0 && a.size() > 2 && a[2] != '-') ||
        a == "--all-ports" || a == "--json" || a == "-q" || a == "--quiet")
      continue;
    args.push_back(a);
  }
  args.push_back("--worker-port");
  args.push_back(port);
  return args;
}

std::string ProgressLine(const Worker& w) {
  constexpr int kWidth = 20;
  const int filled = std::clamp(w.percent, 0, 100) * kWidth / 100;
  char line[512];
  std::snprintf(line, sizeof line, "%-20s [%s%s] %3d%%  %s", w.port.c_str(),
                std::string(static_cast<std::size_t>(filled), '#').c_str(),
                std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), w.percent,
                w.step.c_str());
  return line;
}

}  // namespace

int RunOnSeveralPorts(Env& env, const std::vector<std::string>& commandLine,
                      const std::vector<std::string>& ports) {
  std::vector<Worker> workers(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    workers[i].port = ports[i];
    workers[i].started = Clock::now();
    if (!StartWorker(workers[i], WorkerArguments(commandLine, ports[i])))
      workers[i].code = -1;
  }

  const bool drawLines = env.errIsTerminal && !env.quiet && !env.json;
  bool drawn = false;
  auto draw = [&] {
    if (!drawLines)
      return;
    if (drawn)
      env.err << "\033[" << workers.size() << "A";
    for (const Worker& w : workers)
      env.err << "\r\033[K" << ProgressLine(w) << "\n";
    env.err.flush();
    drawn = true;
  };
  draw();
  auto lastDraw = Clock::now();
  bool forwarded = false;

  for (;;) {
    std::vector<pollfd> fds;
    std::vector<Worker*> owners;
    for (Worker& w : workers) {
      if (w.fd >= 0) {
        fds.push_back({w.fd, POLLIN, 0});
        owners.push_back(&w);
      }
    }
    if (fds.empty())
      break;
    const std::size_t workerFds = fds.size();
    if (env.cancel != nullptr && !forwarded)
      fds.push_back({static_cast<int>(env.cancel->waker()), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR)
      break;
    const auto woken = Clock::now();
    if (!forwarded && IsCancelled(env.cancel)) {
      // Every worker cancels its own flow and reports "cancelled"; the summary follows.
      for (Worker& w : workers)
        CancelWorker(w);
      forwarded = true;
    }
    fds.resize(workerFds);
    bool changed = false;
    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (fds[k].revents == 0)
        continue;
      Worker& w = *owners[k];
      std::vector<std::string> lines;
      changed = true;
      if (!ReadWorkerLines(w, lines))
        continue;
      for (const std::string& line : lines) {
        if (env.json)
          env.out << line << "\n" << std::flush;
        if (!drawLines && !env.json && !env.quiet && w.code)
          env.out << w.port << ": " << w.step << "\n" << std::flush;
      }
    }
    if (changed && Clock::now() - lastDraw > std::chrono::milliseconds(100)) {
      draw();
      lastDraw = Clock::now();
    }
    if (!forwarded)
      PauseBeforeReading(env.cancel != nullptr ? static_cast<int>(env.cancel->waker()) : -1, woken);
  }
  draw();

  bool allOk = true;
  std::vector<const Worker*> rows;
  for (Worker& w : workers) {
    if (w.fd >= 0)
      CancelWorker(w);  // the loop ended early (a failed poll): no worker outlives the run
    WaitWorker(w);
    allOk = allOk && w.exitCode == 0 && *w.code == 0;
    rows.push_back(&w);
  }
  if (!env.json)
    PrintSummary(env, rows);
  return allOk ? kExitOk : kExitFailure;
}

}  // namespace vantor::cli
