// The device flows of the vantor tool, as reusable functions: opening and reopening a port,
// detecting what answers (bootloader or firmware), entering the bootloader, the block download
// and the read-back of regions, each step reported to a Reporter. One flow per process at a time:
// the protocol's reply buffers and receiver are process-wide.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "protocol/segments.h"
#include "serial/serial_port.h"

namespace vantor::cli {

class Reporter;

// The programs' waits: after an accepted "~dboot" before the bootloader is asked, and after a
// successful download before the device is detected again.
inline constexpr std::chrono::milliseconds kBootRestartWait{3000};
inline constexpr std::chrono::milliseconds kRedetectWait{7000};
// Reopening a port retries this long, pausing between attempts, then counts as no answer.
inline constexpr std::chrono::milliseconds kReopenRetryTime{5000};
inline constexpr std::chrono::milliseconds kReopenPause{100};

// The programs' texts.
inline constexpr const char* kNoDeviceText = "통신포트가 잘못되었거나 장비가 꺼져 있습니다. ";
inline constexpr const char* kCheckConnectionText = "장비 연결 상태를 확인하세요. ";
inline constexpr const char* kCommErrorText = "통신에러 ";
inline constexpr const char* kBadFileText = "잘못된 파일입니다.";
inline constexpr const char* kDownloadDoneText = "다운로드가 완료되었습니다. 잠시 기다리십시요...";
inline constexpr const char* kCompletedText = "완료되었습니다.";
inline constexpr const char* kNoDeviceState = "no device";

// Test builds only: multiplies the two fixed waits above (1.0 restores them). Not a user option.
void SetWaitScaleForTesting(double scale);
// Sleeps `wait` times the scale (nothing here touches the port, so no poll is needed).
void SleepScaled(std::chrono::milliseconds wait);

// What answered a detection.
struct DetectResult {
  std::optional<std::uint32_t> bootVersion;    // the bootloader's version word
  std::optional<std::string> firmwareVersion;  // the text after "~Rv0000", closing CR LF removed
  bool answered() const { return bootVersion.has_value() || firmwareVersion.has_value(); }
};

// "boot v%i.%i.%i.%i" from the low four bits of each byte, most significant byte first.
std::string FormatBootVersion(std::uint32_t version);
// The status line: the boot version, the firmware's text, or "no device".
std::string DescribeState(const DetectResult& state);
// "통신에러 \n<code>", the programs' failure text.
std::string CommErrorMessage(std::int32_t code);

// Opens `name` (queue sizes and reopen name as every creator sets them) and asks a USB serial
// adapter for low latency. Null with `error` = the system's reason when it does not open.
std::unique_ptr<SerialPort> OpenDevicePort(const std::string& name, bool trace,
                                           std::int32_t& error);
// Closes `port` and opens its name again, retrying for kReopenRetryTime with kReopenPause
// between attempts. Null when it did not open in that time.
std::unique_ptr<SerialPort> ReopenPort(std::unique_ptr<SerialPort> port, bool trace);

// The binary version query, asked a second time when the first gets no answer.
std::optional<std::uint32_t> QueryBootVersionTwice(SerialPort& port);
// The version query twice, then "~rv" when the bootloader did not answer.
DetectResult DetectDevice(SerialPort& port);

enum class BootEntry {
  kAlreadyRunning,  // the bootloader answered the detection: nothing sent
  kEntered,         // "~dboot" acknowledged or unanswered, the bootloader answered after the wait
  kRefused,         // "~dboot" refused: the port is closed (`port` null)
  kNoAnswer,        // the bootloader did not answer after the wait (or the port did not reopen)
};
// Switches a running firmware into its bootloader: "~dboot", the 3000 ms wait, reopening the port
// and the version query twice. Updates `state.bootVersion` on success.
BootEntry EnterBootloader(std::unique_ptr<SerialPort>& port, DetectResult& state, bool trace,
                          Reporter& reporter);

// Runs the block download session over `segments` with `flags`, reporting each segment and the
// progress. 0 or the session's code.
std::int32_t RunDownload(SerialPort& port, const SegmentList& segments, std::uint32_t flags,
                         Reporter& reporter);

// Reads `length` bytes at `address` with the "~du" read-back into `data`. 0 only when every piece
// got a valid reply; otherwise the first failure's code. Progress is reported as the share of
// `progressTotal` bytes, of which `progressBefore` were done before this call.
std::int32_t RunReadBack(SerialPort& port, std::uint32_t address, std::int32_t length,
                         std::vector<std::uint8_t>& data, Reporter& reporter,
                         std::int64_t progressBefore, std::int64_t progressTotal);

}  // namespace vantor::cli
