// Windows console: _isatty, UTF-8 output code page, console control events that cancel the run,
// and the program's path.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <vector>

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

BOOL WINAPI OnConsoleControl(DWORD event) {
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

void SetWorkerProcessGroup(long) {}

int CancelSignal() {
  return g_cancelSignal.load();
}

std::string ExecutablePath(const std::string& argv0) {
  std::vector<char> path(32768);
  const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return n == 0 ? argv0 : std::string(path.data(), n);
}

}  // namespace vantor::cli
