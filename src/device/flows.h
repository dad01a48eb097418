// The device flows every tool runs, written once: opening and reopening a port, detecting what
// answers (bootloader or firmware), entering the bootloader, the block download with re-detection,
// the read-back of regions and the verify. Each reports to a FlowObserver and ends at once with
// kErrorCancelled when the port's cancel token is cancelled. Each flow owns the protocol's state
// for its port (the frame receiver, the text replies), so flows on several ports run at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/image_formats.h"
#include "device/memory_map.h"
#include "device/observer.h"
#include "device/texts.h"
#include "protocol/segments.h"
#include "serial/cancel.h"
#include "serial/serial_port.h"

namespace vantor::device {

// The programs' waits: after an accepted "~dboot" before the bootloader is asked, and after a
// successful download before the device is detected again.
inline constexpr std::chrono::milliseconds kBootRestartWait{3000};
inline constexpr std::chrono::milliseconds kRedetectWait{7000};
// Reopening a port retries this long, pausing between attempts, then counts as no answer. A run
// with retries waits as long for a port that does not open yet.
inline constexpr std::chrono::milliseconds kReopenRetryTime{5000};
inline constexpr std::chrono::milliseconds kReopenPause{100};

// Test builds only: multiplies the two fixed waits above (1.0 restores them). Not a user option.
void SetWaitScaleForTesting(double scale);
std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait);
// Waits `wait` times the scale; kErrorCancelled at once when `cancel` (may be null) is cancelled.
std::int32_t WaitScaled(std::chrono::milliseconds wait, const serial::CancelToken* cancel);

bool IsCancelled(const serial::CancelToken* cancel);

// Opens `name` (queue sizes and reopen name as every creator sets them), hands it `cancel`, and
// asks a USB serial adapter for low latency. A port that does not open (missing, or busy) is tried
// again every kReopenPause until `waitFor` has passed: a USB port may be listed a moment before it
// can be opened. Null with `error` = the system's reason when it did not open, or kErrorCancelled
// when `cancel` ended the wait (at once).
std::unique_ptr<serial::SerialPort> OpenDevicePort(const std::string& name, bool trace,
                                                   std::int32_t& error,
                                                   const serial::CancelToken* cancel = nullptr,
                                                   std::chrono::milliseconds waitFor = {});
// Closes `port` and opens its name again, retrying for kReopenRetryTime with kReopenPause
// between attempts (the pauses end at once on a cancel). Null when it did not open in that time
// or the flow was cancelled. The new port keeps the old one's trace and cancel token.
std::unique_ptr<serial::SerialPort> ReopenPort(std::unique_ptr<serial::SerialPort> port);

// The binary version query, asked a second time when the first gets no answer.
std::optional<std::uint32_t> QueryBootVersionTwice(serial::SerialPort& port);
// The version query twice, then "~rv" when the bootloader did not answer.
DetectedState DetectDevice(serial::SerialPort& port);

enum class BootEntry {
  kAlreadyRunning,  // the bootloader answered the detection: nothing sent
  kEntered,         // "~dboot" acknowledged or unanswered, the bootloader answered after the wait
  kRefused,         // "~dboot" refused: the port is closed (`port` null)
  kNoAnswer,        // the bootloader did not answer after the wait (or the port did not reopen)
  kCancelled,       // the flow was cancelled: the port is closed (`port` null)
};
// Switches a running firmware into its bootloader: "~dboot", the 3000 ms wait, reopening the port
// and the version query twice. Updates `state.bootVersion` on success.
BootEntry EnterBootloader(std::unique_ptr<serial::SerialPort>& port, DetectedState& state,
                          FlowObserver& observer);

// Runs the block download session over `segments` with `flags`, reporting each segment and the
// progress. 0 or the session's code. `lineBytes`, when given, receives the bytes the session moved.
std::int32_t RunDownload(serial::SerialPort& port, const protocol::SegmentList& segments,
                         std::uint32_t flags, FlowObserver& observer,
                         std::int64_t* lineBytes = nullptr);

// Reads `length` bytes at `address` with the "~du" read-back into `data`. 0 only when every piece
// got a valid reply; otherwise the first failure's code. Progress is reported as the share of
// `progressTotal` bytes, of which `progressBefore` were done before this call.
std::int32_t RunReadBack(serial::SerialPort& port, std::uint32_t address, std::int32_t length,
                         std::vector<std::uint8_t>& data, FlowObserver& observer,
                         std::int64_t progressBefore, std::int64_t progressTotal);

// Reads every segment of `segments` from the device with the "~du" read-back (each segment's
// `length` bytes into its zeroed `data`), the progress of the whole list going to `observer`.
// Pelion's upload and upload log: the box text names every block; a failure is shown with the
// information icon.
struct ReadBackListOutcome {
  std::int32_t result = 0;  // 0 only when every piece of every segment got a valid reply
  std::string boxText;      // ReadBackBoxText of the result and the blocks
  bool informationIcon = false;
  // The segments not read whole: their data is not the device's.
  std::vector<std::uint32_t> unreadSegments;
};
ReadBackListOutcome RunReadBackList(serial::SerialPort& port, protocol::SegmentList& segments,
                                    FlowObserver& observer);

// Reads the region twice and keeps it only when both read-backs agree: the replies carry no
// checksum, so a bit flipped on the line can turn one hex digit into another. Progress counts
// both passes (2 x `length` bytes from `progressBefore`). 0 with `data` set; the first failing
// read-back's code; or -1 with `differed` set when the two read-backs differ.
std::int32_t RunCheckedReadBack(serial::SerialPort& port, std::uint32_t address,
                                std::int32_t length, std::vector<std::uint8_t>& data,
                                bool& differed, FlowObserver& observer, std::int64_t progressBefore,
                                std::int64_t progressTotal);

// Compares every segment with device memory read back at its address.
struct VerifyResult {
  std::int32_t result = 0;                       // 0 or the read-back's failure
  std::optional<std::uint32_t> firstDifference;  // the first differing address
  double seconds = 0;
};
VerifyResult VerifySegments(serial::SerialPort& port, const protocol::SegmentList& segments,
                            FlowObserver& observer);

struct DownloadJob {
  std::string port;
  const protocol::SegmentList* segments = nullptr;
  std::uint32_t flags = 0;
  bool enterBootloader = true;  // false: the bootloader must already answer ("write")
  bool redetect = true;         // detect again after kRedetectWait
  bool verify = false;          // read every segment back and compare
  bool trace = false;           // the byte trace of the port
  const serial::CancelToken* cancel = nullptr;
  std::chrono::milliseconds portWait{};  // how long a port that does not open is waited for
};

struct DownloadOutcome {
  bool ok = false;
  std::int32_t code = 0;      // 0 or the failure's code (kErrorCancelled when cancelled)
  DetectedState first;        // what answered on the port
  bool portOpened = false;    // the port opened and the detection wrote to it
  bool sessionBegan = false;  // the download session began: bytes of the image may have gone
  bool bootEntered = false;
  std::optional<std::uint32_t> bootVersion;  // the bootloader that took the download
  double downloadSeconds = 0;
  std::int64_t bytes = 0;
  std::int64_t lineBytes = 0;  // both ways, for the payload rate against the exchange's bound
  std::optional<DetectedState> after;  // the detection after the download
  std::optional<double> verifySeconds;
  bool verified = false;
  std::string message;  // what the Result said
};

// Opens the port, detects, enters the bootloader when asked and needed, downloads, then detects
// again and verifies as asked. Every step and the result go to `observer`.
DownloadOutcome RunDownloadFlow(const DownloadJob& job, FlowObserver& observer);

struct ReadJob {
  std::string port;
  std::vector<Region> regions;      // read in this order
  std::filesystem::path directory;  // where the files go
  SaveFormat format = SaveFormat::kBin;
  bool trace = false;
  const serial::CancelToken* cancel = nullptr;
  std::chrono::milliseconds portWait{};  // how long a port that does not open is waited for
};

// Opens the port and reads every region twice, saving each as SaveFileName in `format` when both
// read-backs agree; a region that did not come back whole, or differed, gets no file. 0, or the
// first failure's code (kErrorCancelled when cancelled: the region being read leaves no file).
std::int32_t RunReadFlow(const ReadJob& job, FlowObserver& observer);

// The payload rate the line allows for an exchange that moved `lineBytes` for `payload` bytes.
double PayloadBound(std::int64_t payload, std::int64_t lineBytes);

}  // namespace vantor::device
