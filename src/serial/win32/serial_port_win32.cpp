// Win32 backend of SerialPort: \\.\COMn opened exclusively and synchronously, 115200 8N1 without
// flow control, reads that return at once (ReadIntervalTimeout = MAXDWORD), and a wait for input
// that sleeps in short slices instead of spinning.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "serial/serial_port.h"

namespace vantor {

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

// Sleep slice of the input wait: short enough to keep the protocol's answers prompt.
constexpr DWORD kWaitSliceMs = 1;

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

  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
  if (!SetCommTimeouts(port, &timeouts))
    return GetLastError();
  return 0;
}

}  // namespace

PortHandle SerialPort::Open(std::string_view name) {
  portName = std::string(name);
  handle = kInvalidHandle;
  t_lastOpenError = 0;
  // The \\.\ prefix lets COM10 and above open like COM1..COM9.
  const std::wstring path = L"\\\\.\\" + Widen(name);
  HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    t_lastOpenError = static_cast<std::int32_t>(GetLastError());
    return kInvalidHandle;
  }
  handle = reinterpret_cast<PortHandle>(port);
  if (const DWORD error = Configure(port, inQueueSize, outQueueSize); error != 0) {
    CloseHandle(port);
    handle = kInvalidHandle;
    t_lastOpenError = static_cast<std::int32_t>(error);
    return kInvalidHandle;
  }
  return handle;
}

std::int32_t SerialPort::Read(std::uint8_t* buffer, std::uint32_t& count) {
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle), buffer, count, &got, nullptr)) {
    count = 0;
    return static_cast<std::int32_t>(GetLastError());
  }
  count = got;
  if (trace)
    TraceBytes("Rx : ", buffer, count);
  return 0;
}

std::int32_t SerialPort::Write(const std::uint8_t* buffer, std::uint32_t& count) {
  DWORD put = 0;
  const BOOL ok = WriteFile(AsHandle(handle), buffer, count, &put, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  count = put;
  if (trace)
    TraceBytes("Tx : ", buffer, count);
  return static_cast<std::int32_t>(error);
}

// The open flags are fixed (synchronous handle), so WaitCommEvent would block without a time-out.
// Instead the driver's input count is checked, and between checks the thread sleeps 1 ms with the
// system timer at 1 ms resolution: a sleeping poll, near-zero CPU, at most ~1 ms late.
std::int32_t SerialPort::WaitReadable(std::chrono::milliseconds timeout) {
  if (handle == kInvalidHandle)
    return ERROR_INVALID_HANDLE;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool fineTimer = false;
  std::int32_t result = 0;
  for (;;) {
    if (cancel != nullptr && cancel->cancelled()) {
      result = kErrorCancelled;
      break;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(AsHandle(handle), &errors, &status)) {
      result = static_cast<std::int32_t>(GetLastError());
      break;
    }
    if (status.cbInQue > 0 || std::chrono::steady_clock::now() >= deadline)
      break;
    if (!fineTimer)
      fineTimer = timeBeginPeriod(kWaitSliceMs) == TIMERR_NOERROR;
    Sleep(kWaitSliceMs);
  }
  if (fineTimer)
    timeEndPeriod(kWaitSliceMs);
  return result;
}

std::int32_t SerialPort::WaitWritable(std::chrono::milliseconds) {
  if (handle == kInvalidHandle)
    return ERROR_INVALID_HANDLE;
  // Writes are synchronous without a write time-out: WriteFile returns once the bytes are taken.
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
    CloseHandle(AsHandle(handle));
    handle = kInvalidHandle;
  }
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

}  // namespace vantor
