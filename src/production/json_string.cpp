// Text for JSON: what the tools write (see json_string.h).
#include "production/json_string.h"

#include <cmath>
#include <cstdint>

#include <nlohmann/json.hpp>

namespace vantor::production {

std::size_t Utf8Sequence(std::string_view s, std::size_t i, char32_t* codePoint) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (b < 0x80) {
    if (codePoint != nullptr)
      *codePoint = b;
    return 1;
  }
  if ((b & 0xE0) == 0xC0) {
    n = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size())
    return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80)
      return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  const bool overlong = (n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  if (codePoint != nullptr)
    *codePoint = cp;
  return n;
}

std::string Utf8Text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Sequence(text, i);
    if (n == 0) {
      // A stray byte, read as Latin-1: U+0080..U+00FF in two bytes.
      const auto c = static_cast<unsigned char>(text[i++]);
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  return nlohmann::json(Utf8Text(text)).dump();
}

double RoundedTo(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

}  // namespace vantor::production
