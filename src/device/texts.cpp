// The formats of the programs' texts.
#include "device/texts.h"

#include <cstdio>

namespace vantor::device {

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

}  // namespace vantor::device
