// SerialPort: one serial port at the device's fixed line settings (115200 bit/s, 8N1, no flow
// control), raw non-waiting reads and writes, the optional byte trace, and a wait that blocks until
// the port is readable so that no protocol loop spins the CPU.
//
// One backend per OS (posix/, win32/) implements the members marked "backend"; the rest is shared.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "serial/cancel.h"

namespace vantor::serial {

// An OS file handle: a file descriptor on POSIX, a HANDLE on Windows. -1 when closed.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kInvalidHandle = -1;

// Queue sizes every creator requests (the driver's receive and transmit buffers).
inline constexpr std::uint32_t kInQueueSize = 20480;
inline constexpr std::uint32_t kOutQueueSize = 1024;

// The line rate, and the time one byte (start bit, 8 data bits, stop bit) takes on the wire.
inline constexpr std::uint32_t kBitsPerSecond = 115200;
inline constexpr std::uint32_t kBytesPerSecond = kBitsPerSecond / 10;
// The time `bytes` bytes take on the wire at the line's rate, rounded up.
constexpr std::chrono::microseconds WireTime(std::uint64_t bytes) {
  return std::chrono::microseconds((bytes * 1000000u + kBytesPerSecond - 1) / kBytesPerSecond);
}

// How early the sleep for the rest of a reply ends (SerialPort::WaitForRest). It began only when
// the reader woke for the reply's first bytes, and its timer fires late (Linux lets a timer slip
// 50 us, then the thread waits for a CPU). In a download every reply holds up the next frame, so
// its last bytes are waited for in the port's poll, which wakes as they arrive. A read-back
// reply's slip costs well under a percent of its time, and the poll's wake-ups for its last bytes
// cost more CPU than that saves.
inline constexpr std::chrono::microseconds kRoundTripRestMargin{500};
inline constexpr std::chrono::microseconds kBulkRestMargin{0};

// "Time-out" as a system error code: Windows' ERROR_TIMEOUT, used on every platform so the code
// the user reads in a failure message is the same everywhere.
inline constexpr std::int32_t kErrorTimeout = 1460;

struct SerialPort {
  // The open port; kInvalidHandle while closed.
  PortHandle handle = kInvalidHandle;
  // Windows: the events that overlapped reads, the input wait and writes complete on (backend
  // state, 0 when closed). Unused elsewhere.
  std::intptr_t ioEvents = 0;
  // The port's name given to the last Open: "COM12" on Windows, a device path such as
  // "/dev/ttyUSB0" elsewhere.
  std::string portName;
  std::uint32_t inQueueSize = 0;
  std::uint32_t outQueueSize = 0;
  // The name stored by the creator after Open returns; a reconnect opens this name again on a
  // fresh SerialPort.
  std::string reopenPort;
  // Whether Read and Write (and the frame writers above them) trace the bytes they move.
  bool trace = true;
  // The running flow's cancel token (may be null): WaitReadable ends at once with
  // kErrorCancelled when it is cancelled, so every wait of the protocol above ends too.
  const CancelToken* cancel = nullptr;

  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  // Closing is the owner's step; destroying an open port closes it so that no handle leaks.
  ~SerialPort() { Close(); }

  // backend. Opens and configures the port; returns the handle or kInvalidHandle. Every failure
  // (missing port, port held elsewhere, settings refused) looks alike; LastOpenError() keeps the
  // system's reason for a message.
  PortHandle Open(std::string_view name);

  // backend. One non-waiting read of up to `count` bytes. Returns 0 with `count` = bytes read
  // (possibly 0), or a system error code with `count` = 0. Traces "Rx : " lines when `trace`.
  std::int32_t Read(std::uint8_t* buffer, std::uint32_t& count);

  // backend. One write of `count` bytes. Returns 0 with `count` = bytes the system wrote (a
  // partial write is not repeated here), or a system error code. Traces "Tx : " lines.
  std::int32_t Write(const std::uint8_t* buffer, std::uint32_t& count);

  // backend. Blocks until the port has input or `timeout` passes, without reading. Returns 0 in
  // both cases (the caller's next Read tells which), kErrorCancelled when `cancel` is or becomes
  // cancelled, or a system error code when the port can no longer deliver input (for example the
  // other end of a pseudo-terminal went away).
  std::int32_t WaitReadable(std::chrono::milliseconds timeout);

  // backend. Blocks until the port can take more output or `timeout` passes. 0 in both cases,
  // kErrorCancelled, or a system error code. Lets a writer wait instead of retrying at once.
  std::int32_t WaitWritable(std::chrono::milliseconds timeout);

  // backend. Sleeps until `until` (finer than a millisecond where the system allows) or until
  // `cancel` is cancelled: 0 or kErrorCancelled. Lets a reader wait for bytes still on the wire.
  std::int32_t SleepUntil(std::chrono::steady_clock::time_point until) const;

  // Between two reads of a reply that has begun and still lacks `missing` bytes. Until the reader
  // has `rested` once for this reply, sleeps until all but the last `margin` of the missing bytes'
  // time can have passed at the line's rate; those bytes, and bytes late after that sleep (a USB
  // adapter's packet, the scheduler), it waits for in the port's poll (WaitReadable), never past
  // `deadline`. A reply costs a few wake-ups instead of one per byte. 0, kErrorCancelled or
  // WaitReadable's error.
  std::int32_t WaitForRest(std::uint32_t missing, bool rested,
                           std::chrono::steady_clock::time_point deadline,
                           std::chrono::microseconds margin = kRoundTripRestMargin);

  // backend. Closes the handle if open and sets it to kInvalidHandle.
  void Close();

  bool IsOpen() const { return handle != kInvalidHandle; }

  // backend. The system error code of the last failed Open on this thread (0 when none).
  static std::int32_t LastOpenError();
};

// The four creation steps: allocate, set the queue sizes, Open, store handle and reopenPort.
// The returned port may be closed (handle == kInvalidHandle) when Open failed.
std::unique_ptr<SerialPort> CreatePort(std::string_view name, bool trace = true);

// Writes the byte trace of `count` bytes: one DebugOutput line per 16 bytes, each the prefix
// ("Rx : " or "Tx : ") followed by "%02x " per byte and "\n". No bytes give no line.
void TraceBytes(std::string_view prefix, const std::uint8_t* bytes, std::size_t count);

// A short text for a system error code (strerror / FormatMessage), for messages.
std::string SystemErrorText(std::int32_t code);

}  // namespace vantor::serial
