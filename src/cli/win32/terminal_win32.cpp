// Windows console: _isatty, UTF-8 output code page, escape sequences where the console enables
// them, the window's size, and console control events that cancel the run.
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

TerminalSize StderrTerminalSize() {
  TerminalSize size;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    size.columns = info.srWindow.Right - info.srWindow.Left + 1;
    size.lines = info.srWindow.Bottom - info.srWindow.Top + 1;
  }
  return size;
}

int StdoutTerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return 0;  // a file or a pipe
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  g_stderrDrawable = EnableEscapes(STD_ERROR_HANDLE);
  EnableEscapes(STD_OUTPUT_HANDLE);
}

namespace {

// The signal numbers of POSIX (kSignalHangUp too), so that exit codes agree: 128 + the signal.
constexpr int kInterrupt = 2;
constexpr int kTerminate = 15;
// Windows ends the process once the handler of a closing event returns, or after about 5 s.
constexpr DWORD kClosingWaitMs = 4500;

serial::CancelToken* g_signalToken = nullptr;
std::atomic<int> g_cancelSignal{0};
std::atomic<int> g_countedSignals{0};
std::atomic<int> g_countedCancel{0};
std::atomic<bool> g_counting{false};

bool IsClosing(DWORD event) {
  return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  const bool closing = IsClosing(event);
  const int signo = closing ? kSignalHangUp : event == CTRL_C_EVENT ? kInterrupt : kTerminate;
  if (g_counting.load()) {
    // A closing console counts as two: nobody is left to ask again.
    if ((g_countedSignals += closing ? 2 : 1) >= 2) {
      int expected = 0;
      g_countedCancel.compare_exchange_strong(expected, signo);
    }
  } else {
    if (g_cancelSignal.load() != 0 && signo == kInterrupt)
      ExitProcess(128 + kInterrupt);  // asked twice: end at once
    int expected = 0;
    g_cancelSignal.compare_exchange_strong(expected, signo);
    if (g_signalToken != nullptr)
      g_signalToken->Cancel();
  }
  // The run ends (its units cancelled and recorded) and main returns, which ends the process
  // with the run's code while this handler still waits; the wait is bounded by Windows' own.
  if (closing)
    Sleep(kClosingWaitMs);
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
  g_countedCancel = 0;
  g_counting = true;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CountedSignals::~CountedSignals() {
  g_counting = false;
}

int CountedSignals::count() const {
  return g_countedSignals.load();
}

int CountedSignals::cancelSignal() const {
  return g_countedCancel.load();
}

}  // namespace vantor::cli
