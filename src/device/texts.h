// The programs' own texts, written once: message boxes, log lines and the formats of the status
// line. The command-line tool prints the same texts (without a box's closing line break).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantor::device {

// Message boxes.
inline constexpr const char* kNoAnswerText = "통신포트가 잘못되었거나 장비가 꺼져 있습니다. \n";
inline constexpr const char* kCheckDeviceText = "장비 연결 상태를 확인하세요. \n";
inline constexpr const char* kCommErrorText = "통신에러 ";
inline constexpr const char* kWrongFileText = "잘못된 파일입니다.";
inline constexpr const char* kWrongBlockSizeText = "Wrong Block Size";
// Log lines.
inline constexpr const char* kConnectedLog = "연결되었습니다.\n";
inline constexpr const char* kDisconnectedLog = "연결 해제되었습니다.\n";
inline constexpr const char* kDownloadDoneLog = "다운로드가 완료되었습니다. 잠시 기다리십시요...\n";
inline constexpr const char* kFinishedLog = "완료되었습니다.\n";
// Pelion's boxes: a transfer without a chosen port or with one that does not open, "save" and its
// failure (followed by the paths), and the entry of each file "load image" took.
inline constexpr const char* kNoPortChosenText = "통신 포트를 선택하십시오.";
inline constexpr const char* kPortNotOpenedText = "통신포트를 열지 못했습니다.";
inline constexpr const char* kSavedText = "Saved\n\n";
inline constexpr const char* kCantSavedText = "Can't saved\n\n";
inline constexpr const char* kLoadedText = "가 로드되었습니다.\n";
// The entry of a checked slot whose file "load image" could not take (missing, unreadable or of
// the wrong size).
inline constexpr const char* kNotLoadedText = "을(를) 로드하지 못했습니다.\n";
// The read-back's box: this line, then "\nblock %06x" per block; "통신에러 " when one failed.
inline constexpr const char* kUploadedText = "Uploaded ";
// The command-line tool's reason for a region not saved: its two read-backs differ.
inline constexpr const char* kReadBacksDifferText = "the two read-backs differ (a noisy line?)";
// The command-line tool's result when a region was not read or not saved (the regions follow).
inline constexpr const char* kReadFailedText = "read failed:";
// The status line without a device.
inline constexpr const char* kNoDeviceState = "no device";
// The end of a cancelled flow.
inline constexpr const char* kCancelledText = "cancelled";
// A port that does not open because another program holds it.
inline constexpr const char* kPortHeldText = "another program holds the port";

// "0x" and `value` in lower-case hex, at least `digits` digits: addresses and bytes in texts.
std::string Hex(std::uint64_t value, int digits = 6);
// Two lower-case hex digits per byte, nothing between: "00ff1a".
std::string HexBytes(std::span<const std::uint8_t> bytes);
// "boot v%i.%i.%i.%i" from the low four bits of each byte, most significant byte first.
std::string FormatBootVersion(std::uint32_t version);
// "통신에러 \n<code>", the programs' failure text.
std::string CommErrorMessage(std::int32_t code);
// `text` without its closing line break, for a line of the command-line tool.
std::string_view WithoutLineBreak(std::string_view text);

// The read-back's box text: "Uploaded \n" (or "통신에러 \n" when `result` is not 0) followed by
// "\nblock %06x" for each block read, in reading order.
std::string ReadBackBoxText(std::int32_t result, std::span<const std::uint32_t> blocks);

// The command-line tool's texts of the flows.
// "<no answer>cannot open NAME: REASON" (the system's reason follows the programs' text).
std::string CannotOpenText(std::string_view name, std::string_view reason);
// The hint after a refused open when the user lacks the port's group.
std::string NotInGroupText(std::string_view group);
// "write" found the firmware, not the bootloader, answering on `port`.
std::string BootloaderSilentText(std::string_view port, std::string_view state);
inline constexpr const char* kVerifyPortLostText = "verify: the port did not reopen";
inline constexpr const char* kVerifyReadBackFailedText = "verify: the read-back failed";
// "verify: device memory differs at 0x%06x".
std::string VerifyDiffersText(std::uint32_t address);
// "record NOT written: REASON": a device whose record could not be kept (it counts as failed).
std::string RecordNotWrittenText(std::string_view reason);
// "downloaded N bytes in S s (R bytes/s)" and ", verified".
std::string DownloadSummaryText(std::int64_t bytes, double seconds, bool verified);

// Image files taken into an area or slot (the details the command-line tool prints after the
// programs' text).
// "cannot read PATH", with ": REASON" when one is given.
std::string CannotReadText(std::string_view path, std::string_view reason = {});
// "PATH: N bytes, NAME takes at most M" (kUpTo) or "... takes exactly M" (kExact).
std::string FileSizeText(std::string_view path, std::uint64_t size, std::string_view place,
                         bool exact, std::int32_t limit);

}  // namespace vantor::device
