// POSIX: several devices at once, one worker process per port. Each worker is this program with
// the same command line for one port and --json; the parent reads every worker's events from a
// pipe, draws one progress line per port on a terminal and prints a summary table at the end.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "cli/cli.h"
#include "cli/json_events.h"
#include "cli/several_ports.h"
#include "cli/terminal.h"
#include "cli/worker_processes.h"

extern char** environ;

namespace vantor::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The command line for one port's worker: the same command without the port choices, with
// --json (its events for the parent) and --quiet, and the internal worker flag.
std::vector<std::string> WorkerArguments(const std::string& executable,
                                         const std::vector<std::string>& commandLine,
                                         const std::string& port) {
  std::vector<std::string> args{executable, "--json", "--quiet"};
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

bool SpawnWorker(Worker& w, const std::vector<std::string>& args, pid_t group) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, group);
  const int rc = posix_spawn(&w.pid, args[0].c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    w.message = "cannot start a worker: " + std::string(std::strerror(rc));
    return false;
  }
  w.fd = fds[0];
  return true;
}

void ApplyEvent(Worker& w, const std::map<std::string, std::string>& event) {
  const auto get = [&event](const char* key) {
    const auto it = event.find(key);
    return it == event.end() ? std::string() : it->second;
  };
  const std::string kind = get("event");
  if (kind == "port_opened") {
    w.step = "detecting";
  } else if (kind == "detected" && get("purpose") == "detect") {
    w.answered = get("state") == "none" ? "none" : get("version");
    w.step = "detected";
  } else if (kind == "boot_request") {
    w.step = "~dboot " + get("outcome");
  } else if (kind == "bootloader") {
    w.step = "bootloader " + get("version");
  } else if (kind == "segment_started") {
    w.step = get("what") + " " + std::to_string(std::stoi(get("index")) + 1) + "/" + get("count");
  } else if (kind == "progress") {
    w.percent = std::stoi(get("percent"));
    if (!w.progressSince)
      w.progressSince = Clock::now();
  } else if (kind == "attempt") {
    w.attempt = std::stoi(get("attempt"));
    w.step = "attempt " + get("attempt") + " of " + get("of");
    w.percent = 0;
    w.progressSince.reset();
    w.code.reset();  // a failed attempt's result is not the device's
    w.message.clear();
  } else if (kind == "detected") {
    w.step = "detected again: " + (get("state") == "none" ? std::string("none") : get("version"));
  } else if (kind == "verify") {
    w.step = get("ok") == "true" ? "verified" : "verify failed";
  } else if (kind == "result") {
    w.code = std::stoi(get("code"));
    w.message = get("message");
    if (const std::string meaning = get("meaning"); !meaning.empty())
      w.message += "\n" + meaning;
    w.step = *w.code == 0 ? "done" : "failed";
  }
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r')
      c = ' ';
  }
  return text;
}

bool ReadWorkerLines(Worker& w, std::vector<std::string>& lines) {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(w.fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  if (n <= 0) {
    ::close(w.fd);
    w.fd = -1;
    w.seconds = std::chrono::duration<double>(Clock::now() - w.started).count();
    return false;
  }
  w.pending.append(buffer, static_cast<std::size_t>(n));
  std::size_t end;
  while ((end = w.pending.find('\n')) != std::string::npos) {
    lines.push_back(w.pending.substr(0, end));
    w.pending.erase(0, end + 1);
    if (auto event = ParseFlatJson(lines.back()))
      ApplyEvent(w, *event);
  }
  return true;
}

void WaitWorker(Worker& w) {
  if (w.pid > 0) {
    int status = 0;
    while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    w.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : kExitFailure;
    w.pid = -1;
  }
  if (!w.code) {
    w.code = -1;
    if (w.message.empty())
      w.message = "the worker ended without a result";
  }
}

void PrintSummary(Env& env, const std::vector<const Worker*>& workers) {
  char line[768];
  std::snprintf(line, sizeof line, "%-20s %-20s %8s %8s %8s  %s\n", "port", "answered", "result",
                "attempts", "seconds", "message");
  env.out << line;
  for (const Worker* w : workers) {
    std::snprintf(line, sizeof line, "%-20s %-20s %8d %8d %8.1f  %s\n", w->port.c_str(),
                  w->answered.c_str(), w->code.value_or(-1), w->attempt, w->seconds,
                  OneLine(w->message).c_str());
    env.out << line;
  }
  env.out.flush();
}

int RunOnSeveralPorts(Env& env, const std::vector<std::string>& commandLine,
                      const std::vector<std::string>& ports) {
  const std::string executable = env.executable.empty() ? "/proc/self/exe" : env.executable;
  std::vector<Worker> workers(ports.size());
  pid_t group = 0;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    workers[i].port = ports[i];
    workers[i].started = Clock::now();
    // The workers share one process group (the first worker's pid) so that the parent can end
    // them together; a terminal's Ctrl+C reaches the parent only, which passes it on.
    if (!SpawnWorker(workers[i], WorkerArguments(executable, commandLine, ports[i]), group)) {
      workers[i].code = -1;
    } else if (group == 0) {
      group = workers[i].pid;
      SetWorkerProcessGroup(group);
    }
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
    if (!forwarded && IsCancelled(env.cancel) && group > 0) {
      // Every worker cancels its own flow and reports "cancelled"; the summary follows.
      ::kill(-group, CancelSignal() != 0 ? CancelSignal() : SIGTERM);
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
  }
  draw();

  bool allOk = true;
  std::vector<const Worker*> rows;
  for (Worker& w : workers) {
    WaitWorker(w);
    allOk = allOk && w.exitCode == 0 && *w.code == 0;
    rows.push_back(&w);
  }
  if (!env.json)
    PrintSummary(env, rows);
  return allOk ? kExitOk : kExitFailure;
}

}  // namespace vantor::cli
