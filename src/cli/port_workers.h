// POSIX: the port workers of the several-device run and of the station. Each worker is a thread
// that runs this tool's own command line for one port with --json, writing its events into a
// pipe; the parent reads every pipe and keeps, per port, what its worker last told: the phase,
// the percent, the attempt and the result. A worker has its own cancel token, so the parent can
// stop one device or all of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "serial/cancel.h"

namespace vantor::cli {

struct Worker {
  using Clock = std::chrono::steady_clock;
  std::string port;
  std::thread thread;
  std::unique_ptr<CancelToken> cancel;
  int fd = -1;          // the read end of the worker's pipe; -1 once it reached its end
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
  int exitCode = 1;  // written by the worker's thread, read after WaitWorker
  bool cancelled = false;
};

// Starts the worker's thread on `args` (a vantor command line, args[0] the program's name) with
// its output on a pipe that `w.fd` reads. The thread leaves SIGINT and SIGTERM to the parent's
// thread, which decides what the workers are told. False with `w.message`.
bool StartWorker(Worker& w, std::vector<std::string> args);

// Reads what the worker wrote: its complete lines are appended to `lines` and every event among
// them updates `w`. False when the worker closed its end (it ended); the caller then settles it
// with WaitWorker.
bool ReadWorkerLines(Worker& w, std::vector<std::string>& lines);

// Waits for the worker's thread to end and settles its result: a worker that ended without one
// failed. A worker still running should be cancelled first.
void WaitWorker(Worker& w);

// Cancels the worker's flow: it ends at its next wait and reports "cancelled".
void CancelWorker(Worker& w);

// One event of a worker applied to its row.
void ApplyEvent(Worker& w, const std::map<std::string, std::string>& event);

// The parent's pause after reading its workers, so that their lines gather in the pipes and one
// wake reads them all: with 32 workers a wake per progress line would cost more than the workers.
inline constexpr std::chrono::milliseconds kWorkerReadPause{10};

// Sleeps until `kWorkerReadPause` after `since`, or until `wakeFd` (a signal or cancel pipe; -1:
// none) has input.
void PauseBeforeReading(int wakeFd, std::chrono::steady_clock::time_point since);

// The final table: port, answered, result, attempts, seconds and message, one row per worker.
void PrintSummary(Env& env, const std::vector<const Worker*>& workers);

// A message on one line (the programs' texts carry line breaks).
std::string OneLine(std::string text);

}  // namespace vantor::cli
