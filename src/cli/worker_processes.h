// POSIX: the worker processes of the several-device run and of the station. Each worker is this
// program for one port with --json; its parent reads the events from a pipe and keeps, per port,
// what the worker last told: the phase, the percent, the attempt and the result.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace vantor::cli {

struct Worker {
  using Clock = std::chrono::steady_clock;
  std::string port;
  pid_t pid = -1;
  int fd = -1;
  std::string pending;  // bytes after the last complete line
  std::string answered = "-";
  std::string step = "starting";
  int percent = 0;
  int attempt = 1;
  std::optional<std::int32_t> code;
  std::string message;
  Clock::time_point started;
  std::optional<Clock::time_point> progressSince;  // the first progress event of the attempt
  double seconds = 0;
  int exitCode = 1;
  bool cancelled = false;
};

// Starts `args` (args[0] the executable) with its stdout on a pipe that `w.fd` reads, in process
// group `group` (0: a new group of its own), so that a terminal's Ctrl-C reaches only the parent,
// which decides what the workers are told. False with `w.message`.
bool SpawnWorker(Worker& w, const std::vector<std::string>& args, pid_t group);

// Reads what the worker wrote: its complete lines are appended to `lines` and every event among
// them updates `w`. False when the worker closed its end (it ended); the caller then reaps it
// with WaitWorker.
bool ReadWorkerLines(Worker& w, std::vector<std::string>& lines);

// Reaps the worker and settles its result: a worker that ended without one failed.
void WaitWorker(Worker& w);

// One event of a worker applied to its row.
void ApplyEvent(Worker& w, const std::map<std::string, std::string>& event);

// The final table: port, answered, result, attempts, seconds and message, one row per worker.
void PrintSummary(Env& env, const std::vector<const Worker*>& workers);

// A message on one line (the programs' texts carry line breaks).
std::string OneLine(std::string text);

}  // namespace vantor::cli
