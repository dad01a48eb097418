// POSIX console: isatty and cancelling signals.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "cli/terminal.h"

namespace vantor::cli {

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void PrepareConsole() {}

namespace {

serial::CancelToken* g_signalToken = nullptr;
volatile std::sig_atomic_t g_cancelSignal = 0;
volatile std::sig_atomic_t g_countedSignals = 0;
struct sigaction g_oldInt {};
struct sigaction g_oldTerm {};

extern "C" void OnCountedSignal(int) {
  g_countedSignals = g_countedSignals + 1;
}

// Only async-signal-safe steps: an atomic store, write(2) inside Cancel(), _exit.
extern "C" void OnCancelSignal(int signo) {
  if (g_cancelSignal != 0 && signo == SIGINT)
    ::_exit(128 + SIGINT);  // asked twice: end at once, the workers' threads too
  if (g_cancelSignal == 0)
    g_cancelSignal = signo;
  if (g_signalToken != nullptr)
    g_signalToken->Cancel();
}

}  // namespace

void CancelOnSignals(serial::CancelToken& token) {
  g_signalToken = &token;
  struct sigaction action {};
  action.sa_handler = OnCancelSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking call returns with EINTR and sees the flag
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int CancelSignal() {
  return g_cancelSignal;
}

CountedSignals::CountedSignals() {
  g_countedSignals = 0;
  struct sigaction action {};
  action.sa_handler = OnCountedSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &g_oldInt);
  ::sigaction(SIGTERM, &action, &g_oldTerm);
}

CountedSignals::~CountedSignals() {
  ::sigaction(SIGINT, &g_oldInt, nullptr);
  ::sigaction(SIGTERM, &g_oldTerm, nullptr);
}

int CountedSignals::count() const {
  return g_countedSignals;
}

}  // namespace vantor::cli
