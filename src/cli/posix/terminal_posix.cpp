// POSIX console: isatty, the terminal's size and cancelling signals.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <iterator>

#include "cli/terminal.h"

namespace vantor::cli {

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

TerminalSize StderrTerminalSize() {
  TerminalSize size;
  struct winsize ws {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    size.columns = ws.ws_col;
    size.lines = ws.ws_row;
  }
  return size;
}

int StdoutTerminalColumns() {
  struct winsize ws {};
  if (::isatty(STDOUT_FILENO) == 1 && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0)
    return ws.ws_col;
  return 0;
}

void PrepareConsole() {}

namespace {

constexpr int kCancellingSignals[] = {SIGINT, SIGTERM, SIGHUP};

serial::CancelToken* g_signalToken = nullptr;
volatile std::sig_atomic_t g_cancelSignal = 0;
volatile std::sig_atomic_t g_countedSignals = 0;
volatile std::sig_atomic_t g_countedCancel = 0;
struct sigaction g_old[3]{};

extern "C" void OnCountedSignal(int signo) {
  g_countedSignals = g_countedSignals + (signo == SIGHUP ? 2 : 1);
  if (g_countedSignals >= 2 && g_countedCancel == 0)
    g_countedCancel = signo;
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

// A SIGHUP ignored when the process started (nohup) stays ignored.
void Handle(void (*handler)(int), struct sigaction* old) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking call returns with EINTR and sees the flag
  for (std::size_t i = 0; i < std::size(kCancellingSignals); ++i) {
    struct sigaction current {};
    ::sigaction(kCancellingSignals[i], nullptr, &current);
    if (old != nullptr)
      old[i] = current;
    if (kCancellingSignals[i] != SIGHUP || current.sa_handler != SIG_IGN)
      ::sigaction(kCancellingSignals[i], &action, nullptr);
  }
}

}  // namespace

void CancelOnSignals(serial::CancelToken& token) {
  g_signalToken = &token;
  Handle(OnCancelSignal, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

int CancelSignal() {
  return g_cancelSignal;
}

CountedSignals::CountedSignals() {
  g_countedSignals = 0;
  g_countedCancel = 0;
  Handle(OnCountedSignal, g_old);
}

CountedSignals::~CountedSignals() {
  for (std::size_t i = 0; i < std::size(kCancellingSignals); ++i)
    ::sigaction(kCancellingSignals[i], &g_old[i], nullptr);
}

int CountedSignals::count() const {
  return g_countedSignals;
}

int CountedSignals::cancelSignal() const {
  return g_countedCancel;
}

}  // namespace vantor::cli
