// Windows console: _isatty, UTF-8 output code page, escape sequences where the console enables
// them, and console control events that cancel the run.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "cli/terminal.h"

namespace vantor::cli {

namespace {

// Whether the console behind stderr takes the escape sequences of the progress bar and the live
// table: set by PrepareConsole where the console enables them (Windows 10 and later).
bool g_stderrDrawable = false;

bool EnableEscapes(DWORD which) {
  HANDLE console = GetStdHandle(which);
  DWORD mode = 0;
  if (console == nullptr || console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
    return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace

// A console that cannot enable escape sequences counts as no terminal: plain lines instead of a
// redrawn bar or table.
bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0 && g_stderrDrawable;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  g_stderrDrawable = EnableEscapes(STD_ERROR_HANDLE);
  EnableEscapes(STD_OUTPUT_HANDLE);
}

namespace {

serial::CancelToken* g_signalToken = nullptr;
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

void CancelOnSignals(serial::CancelToken& token) {
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
