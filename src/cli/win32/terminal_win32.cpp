// Windows console: _isatty, UTF-8 output code page and console control events that cancel the
// run.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "cli/terminal.h"

namespace vantor::cli {

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
}

namespace {

CancelToken* g_signalToken = nullptr;
std::atomic<int> g_cancelSignal{0};
std::atomic<int> g_countedSignals{0};
std::atomic<bool> g_counting{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (g_counting.load()) {
    ++g_countedSignals;
    return TRUE;
  }
  const int signo = event == CTRL_C_EVENT ? 2 : 15;
  if (g_cancelSignal.load() != 0 && signo == 2)
    ExitProcess(130);  // asked twice: end at once
  int expected = 0;
  g_cancelSignal.compare_exchange_strong(expected, signo);
  if (g_signalToken != nullptr)
    g_signalToken->Cancel();
  return TRUE;
}

}  // namespace

void CancelOnSignals(CancelToken& token) {
  g_signalToken = &token;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int CancelSignal() {
  return g_cancelSignal.load();
}

CountedSignals::CountedSignals() {
  g_countedSignals = 0;
  g_counting = true;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CountedSignals::~CountedSignals() {
  g_counting = false;
}

int CountedSignals::count() const {
  return g_countedSignals.load();
}

}  // namespace vantor::cli
