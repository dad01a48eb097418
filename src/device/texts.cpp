// The formats of the programs' texts.
#include "device/texts.h"

#include <cstdio>

namespace vantor::device {

std::string Hex(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

std::string FormatBootVersion(std::uint32_t v) {
  char text[64];
  std::snprintf(text, sizeof text, "boot v%u.%u.%u.%u", (v >> 24) & 0xF, (v >> 16) & 0xF,
                (v >> 8) & 0xF, v & 0xF);
  return text;
}

std::string CommErrorMessage(std::int32_t code) {
  return std::string(kCommErrorText) + "\n" + std::to_string(code);
}

std::string_view WithoutLineBreak(std::string_view text) {
  if (!text.empty() && text.back() == '\n')
    text.remove_suffix(1);
  return text;
}

std::string ReadBackBoxText(std::int32_t result, std::span<const std::uint32_t> blocks) {
  std::string text = std::string(result != 0 ? kCommErrorText : kUploadedText) + "\n";
  for (const std::uint32_t address : blocks) {
    char line[32];
    std::snprintf(line, sizeof line, "\nblock %06x", address);
    text += line;
  }
  return text;
}

std::string CannotOpenText(std::string_view name, std::string_view reason) {
  return std::string(kNoAnswerText) + "cannot open " + std::string(name) + ": " +
         std::string(reason);
}

std::string NotInGroupText(std::string_view group) {
  const std::string g(group);
  return "you are not in the '" + g + "' group, which may use this port; add yourself with\n" +
         "  sudo usermod -aG " + g + " $USER\nthen log out and in again";
}

std::string BootloaderSilentText(std::string_view port, std::string_view state) {
  return std::string(WithoutLineBreak(kNoAnswerText)) + "\nthe bootloader does not answer on " +
         std::string(port) + " (the firmware does: " + std::string(state) +
         "); 'write' needs a running bootloader, 'download' switches to it";
}

std::string VerifyDiffersText(std::uint32_t address) {
  char text[96];
  std::snprintf(text, sizeof text, "verify: device memory differs at 0x%06x", address);
  return text;
}

std::string RecordNotWrittenText(std::string_view reason) {
  return "record NOT written: " + std::string(reason);
}

std::string DownloadSummaryText(std::int64_t bytes, double seconds, bool verified) {
  char text[160];
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  std::snprintf(text, sizeof text, "downloaded %lld bytes in %.1f s (%.0f bytes/s)%s",
                static_cast<long long>(bytes), seconds, rate, verified ? ", verified" : "");
  return text;
}

std::string CannotReadText(std::string_view path, std::string_view reason) {
  std::string text = "cannot read " + std::string(path);
  if (!reason.empty())
    text += ": " + std::string(reason);
  return text;
}

std::string FileSizeText(std::string_view path, std::uint64_t size, std::string_view place,
                         bool exact, std::int32_t limit) {
  return std::string(path) + ": " + std::to_string(size) + " bytes, " + std::string(place) +
         (exact ? " takes exactly " : " takes at most ") + std::to_string(limit);
}

}  // namespace vantor::device
