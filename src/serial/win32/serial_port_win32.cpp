// Win32 backend of SerialPort: \\.\COMn opened exclusively for overlapped I/O, 115200 8N1 without
// flow control, reads that return at once (ReadIntervalTimeout = MAXDWORD), and a wait for input
// that blocks on events: a one-byte overlapped read that ends with the first byte, raced against
// the cancel token's event, the deadline as the time-out.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "serial/serial_port.h"

namespace vantor::serial {

namespace {

thread_local std::int32_t t_lastOpenError = 0;

// The DCB's flag bits (fBinary .. fAbortOnError, then the reserved bits 15-31) form the 32-bit word
// right after BaudRate. Keep the reserved bits as the driver reported them and fParity and every
// flow-control, error and null-stripping bit cleared; set fBinary, DTR on and RTS on.
constexpr std::uint32_t kFlagKeepMask = 0xFFFF9011;
constexpr std::uint32_t kFlagSetBits = 0x1011;
constexpr std::size_t kFlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(sizeof(DCB) == 28, "DCBlength must be 28");
static_assert(offsetof(DCB, wReserved) == kFlagWordOffset + sizeof(std::uint32_t),
              "the flag bits are one 32-bit word between BaudRate and wReserved");

// Waits shorter than this run with the system timer at 1 ms, so that a short protocol time-out
// ends on time rather than at the next 15.6 ms tick; longer ones accept the tick.
constexpr std::chrono::milliseconds kFineTimerBelow{1000};

// The backend's state of an open port: the events its overlapped operations complete on (the
// reader's, for reads and the input wait, and the writer's, so that one thread may read while
// another writes), and the byte that ended the last input wait, which the next Read returns
// first.
struct PortState {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  std::uint8_t waitByte = 0;
  bool holding = false;
};

PortState* StateOf(std::intptr_t state) {
  return reinterpret_cast<PortState*>(state);
}

void FreeState(PortState* state) {
  if (state == nullptr)
    return;
  if (state->read != nullptr)
    CloseHandle(state->read);
  if (state->write != nullptr)
    CloseHandle(state->write);
  delete state;
}

// The open port's time-outs: reads return at once with what is there.
constexpr COMMTIMEOUTS kImmediateReads{MAXDWORD, 0, 0, 0, 0};

// The driver's count of received bytes not yet read, or a system error.
DWORD InputQueued(HANDLE port, DWORD& queued) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(port, &errors, &status))
    return GetLastError();
  queued = status.cbInQue;
  return 0;
}

// A read that should end at once but is still pending after this is cancelled (what it had read by
// then is kept).
constexpr DWORD kReadBoundMs = 1000;

// One read or write on the overlapped handle, waited for to its end: `done` bytes moved, 0 or the
// system error. A read asks only for bytes already received, so it ends at once on any system
// (Wine leaves an overlapped read pending until input whatever the time-outs say); a write ends
// when the driver has taken the bytes, as a synchronous write would.
DWORD Transfer(HANDLE port, HANDLE event, bool write, void* buffer, DWORD count, DWORD& done) {
  done = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  const BOOL started = write ? WriteFile(port, buffer, count, nullptr, &overlapped)
                             : ReadFile(port, buffer, count, nullptr, &overlapped);
  if (!started) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
      return error;
  }
  // Waits for a pending operation; the OVERLAPPED outlives it.
  if (!write && WaitForSingleObject(event, kReadBoundMs) == WAIT_TIMEOUT)
    CancelIoEx(port, &overlapped);
  if (!GetOverlappedResult(port, &overlapped, &done, TRUE)) {
    const DWORD error = GetLastError();
    return error == ERROR_OPERATION_ABORTED && !write ? 0 : error;
  }
  return 0;
}

HANDLE AsHandle(PortHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::wstring Widen(std::string_view text) {
  if (text.empty())
    return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty())
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

// Steps 4 to 7 of the open: queues, line settings, time-outs. 0 or the failing step's error.
DWORD Configure(HANDLE port, std::uint32_t inQueueSize, std::uint32_t outQueueSize) {
  if (!SetupComm(port, inQueueSize, outQueueSize))
    return GetLastError();

  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (!GetCommState(port, &dcb))
    return GetLastError();
  dcb.BaudRate = kBitsPerSecond;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  auto* bytes = reinterpret_cast<unsigned char*>(&dcb);
  std::uint32_t flags = 0;
  std::memcpy(&flags, bytes + kFlagWordOffset, sizeof flags);
  flags = (flags & kFlagKeepMask) | kFlagSetBits;
  std::memcpy(bytes + kFlagWordOffset, &flags, sizeof flags);
  if (!SetCommState(port, &dcb))
    return GetLastError();

  COMMTIMEOUTS timeouts = kImmediateReads;
  if (!SetCommTimeouts(port, &timeouts))
    return GetLastError();
  return 0;
}

// One read of the first byte to come, for at most `timeout`, raced against `cancelEvent` (may be
// null): the read's own time-out ends it on Windows; Wine keeps such a read pending until input,
// so the wait's time-out cancels it. The read is over (done, timed out or cancelled) on return;
// a byte it got is held in `state`. 0 (a byte or the time-out), kErrorCancelled, or the error with
// which the port ended the read (a port that went away).
std::int32_t WaitFirstByte(HANDLE port, PortState& state, HANDLE cancelEvent, DWORD timeout) {
  COMMTIMEOUTS firstByte{MAXDWORD, MAXDWORD, timeout, 0, 0};
  if (!SetCommTimeouts(port, &firstByte))
    return static_cast<std::int32_t>(GetLastError());
  OVERLAPPED overlapped{};
  overlapped.hEvent = state.read;
  std::int32_t result = 0;
  if (!ReadFile(port, &state.waitByte, 1, nullptr, &overlapped)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      result = static_cast<std::int32_t>(error);
    } else {
      const HANDLE handles[2] = {state.read, cancelEvent};
      const DWORD which =
          WaitForMultipleObjects(cancelEvent != nullptr ? 2 : 1, handles, FALSE, timeout);
      if (which == WAIT_OBJECT_0 + 1)
        result = kErrorCancelled;
      else if (which == WAIT_FAILED)
        result = static_cast<std::int32_t>(GetLastError());
      if (which != WAIT_OBJECT_0)
        CancelIoEx(port, &overlapped);
    }
  }
  if (result == 0 || result == kErrorCancelled) {
    // Waits until the system has let go of `overlapped` and the byte.
    DWORD got = 0;
    if (GetOverlappedResult(port, &overlapped, &got, TRUE))
      state.holding = got == 1;
    else if (const DWORD error = GetLastError(); error != ERROR_OPERATION_ABORTED && result == 0)
      result = static_cast<std::int32_t>(error);
  }
  COMMTIMEOUTS immediate = kImmediateReads;
  if (!SetCommTimeouts(port, &immediate) && result == 0)
    result = static_cast<std::int32_t>(GetLastError());
  return result;
}

}  // namespace

PortHandle SerialPort::Open(std::string_view name) {
  portName = std::string(name);
  handle = kInvalidHandle;
  t_lastOpenError = 0;
  // The \\.\ prefix lets COM10 and above open like COM1..COM9.
  const std::wstring path = L"\\\\.\\" + Widen(name);
  HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    t_lastOpenError = static_cast<std::int32_t>(GetLastError());
    return kInvalidHandle;
  }
  DWORD error = Configure(port, inQueueSize, outQueueSize);
  auto* state = new PortState;
  state->read = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state->write = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (error == 0 && (state->read == nullptr || state->write == nullptr))
    error = GetLastError();
  if (error != 0) {
    FreeState(state);
    CloseHandle(port);
    t_lastOpenError = static_cast<std::int32_t>(error);
    return kInvalidHandle;
  }
  ioEvents = reinterpret_cast<std::intptr_t>(state);
  handle = reinterpret_cast<PortHandle>(port);
  return handle;
}

std::int32_t SerialPort::Read(std::uint8_t* buffer, std::uint32_t& count) {
  if (handle == kInvalidHandle) {
    count = 0;
    return ERROR_INVALID_HANDLE;
  }
  PortState& state = *StateOf(ioEvents);
  std::uint32_t taken = 0;
  if (state.holding && count > 0) {
    buffer[0] = state.waitByte;
    state.holding = false;
    taken = 1;
  }
  DWORD queued = 0;
  DWORD error = InputQueued(AsHandle(handle), queued);
  DWORD got = 0;
  if (error == 0 && queued > 0 && count > taken)
    error = Transfer(AsHandle(handle), state.read, false, buffer + taken,
                     std::min<DWORD>(count - taken, queued), got);
  count = taken + got;
  if (trace)
    TraceBytes("Rx : ", buffer, count);
  if (error != 0 && count == 0)
    return static_cast<std::int32_t>(error);
  return 0;  // an error after the held byte shows at the next call
}

std::int32_t SerialPort::Write(const std::uint8_t* buffer, std::uint32_t& count) {
  if (handle == kInvalidHandle) {
    count = 0;
    return ERROR_INVALID_HANDLE;
  }
  DWORD put = 0;
  const DWORD error = Transfer(AsHandle(handle), StateOf(ioEvents)->write, true,
                               const_cast<std::uint8_t*>(buffer), count, put);
  count = put;
  if (trace)
    TraceBytes("Tx : ", buffer, count);
  return static_cast<std::int32_t>(error);
}

// Blocks in a one-byte read and the cancel token's event, the deadline as the time-out: no CPU
// while nothing comes, awake with the first byte.
std::int32_t SerialPort::WaitReadable(std::chrono::milliseconds timeout) {
  if (handle == kInvalidHandle)
    return ERROR_INVALID_HANDLE;
  if (cancel != nullptr && cancel->cancelled())
    return kErrorCancelled;
  PortState& state = *StateOf(ioEvents);
  DWORD queued = 0;
  if (state.holding)
    return 0;
  if (const DWORD error = InputQueued(AsHandle(handle), queued); error != 0)
    return static_cast<std::int32_t>(error);
  if (queued > 0 || timeout.count() <= 0)
    return 0;
  HANDLE cancelEvent = cancel != nullptr ? reinterpret_cast<HANDLE>(cancel->waker()) : nullptr;
  if (cancelEvent == INVALID_HANDLE_VALUE)
    cancelEvent = nullptr;
  const bool fineTimer = timeout < kFineTimerBelow && timeBeginPeriod(1) == TIMERR_NOERROR;
  const auto ms = std::min<std::chrono::milliseconds::rep>(timeout.count(), MAXDWORD - 1);
  const std::int32_t result =
      WaitFirstByte(AsHandle(handle), state, cancelEvent, static_cast<DWORD>(ms));
  if (fineTimer)
    timeEndPeriod(1);
  return result;
}

std::int32_t SerialPort::WaitWritable(std::chrono::milliseconds) {
  if (handle == kInvalidHandle)
    return ERROR_INVALID_HANDLE;
  // A write ends when the driver has taken its bytes (no write time-out): nothing to wait for.
  return cancel != nullptr && cancel->cancelled() ? kErrorCancelled : 0;
}

std::int32_t SerialPort::SleepUntil(std::chrono::steady_clock::time_point until) const {
  // Windows sleeps in whole milliseconds; the cancel token's event ends the sleep at once.
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  if (left.count() <= 0)
    return cancel != nullptr && cancel->cancelled() ? kErrorCancelled : 0;
  if (cancel != nullptr)
    return cancel->SleepFor(left);
  Sleep(static_cast<DWORD>(left.count()));
  return 0;
}

void SerialPort::Close() {
  if (handle != kInvalidHandle) {
    // Every overlapped operation ended inside the call that started it: nothing is pending here.
    CloseHandle(AsHandle(handle));
    handle = kInvalidHandle;
  }
  FreeState(StateOf(ioEvents));
  ioEvents = 0;
}

std::int32_t SerialPort::LastOpenError() {
  return t_lastOpenError;
}

std::string SystemErrorText(std::int32_t code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr)
    return "error " + std::to_string(code);
  std::wstring_view view(text, length);
  while (!view.empty() && (view.back() == L'\r' || view.back() == L'\n' || view.back() == L' ')) {
    view.remove_suffix(1);
  }
  std::string result = Narrow(view);
  LocalFree(text);
  return result;
}

}  // namespace vantor::serial
