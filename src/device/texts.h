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
// The status line without a device.
inline constexpr const char* kNoDeviceState = "no device";

// "boot v%i.%i.%i.%i" from the low four bits of each byte, most significant byte first.
std::string FormatBootVersion(std::uint32_t version);
// "통신에러 \n<code>", the programs' failure text.
std::string CommErrorMessage(std::int32_t code);
// `text` without its closing line break, for a line of the command-line tool.
std::string_view WithoutLineBreak(std::string_view text);

}  // namespace vantor::device
