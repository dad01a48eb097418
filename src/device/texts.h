// The programs' own texts, written once: message boxes, log lines and the formats of the status
// line. The command-line tool prints the same texts (without a box's closing line break).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantor::device {

// Message boxes.
inline constexpr const char* kNoAnswerText = "통신포트가 잘못되었거나 장비가 꺼져 있습니다. \n";
inline constexpr const char* kCheckDeviceText = "장비 연결 상태를 확인하세요. \n";
inline constexpr const char* kCommErrorText = "통신에러 ";
inline constexpr const char* kWrongFileText = "잘못된 파일입니다.";
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
// The command-line tool's reason for a region not saved: its two read-backs differ.
inline constexpr const char* kReadBacksDifferText = "the two read-backs differ (a noisy line?)";
// The status line without a device.
inline constexpr const char* kNoDeviceState = "no device";

// "boot v%i.%i.%i.%i" from the low four bits of each byte, most significant byte first.
std::string FormatBootVersion(std::uint32_t version);
// "통신에러 \n<code>", the programs' failure text.
std::string CommErrorMessage(std::int32_t code);
// `text` without its closing line break, for a line of the command-line tool.
std::string_view WithoutLineBreak(std::string_view text);

}  // namespace vantor::device
