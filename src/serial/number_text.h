// Whole numbers read from text: the one parser for counts, addresses, flags, codes and ids given
// on a command line, in a file, by the system or by the database. The whole text must be a number
// of the asked type: no blanks, no '+', no trailing characters, nothing out of the type's range
// (a '-' only for a signed type).
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <type_traits>

namespace vantor::serial {

enum class NumberSyntax {
  kDecimal,       // "42", "0042"
  kDecimalOrHex,  // "42", "0042" (leading zeros are no octal), "0x2A"
  kPrefixed,      // as C writes it: "42", "0x2A", "052" (octal)
  kHex,           // "2A", "2a": hex digits without a prefix
};

template <typename Integer>
std::optional<Integer> ParseNumber(std::string_view text,
                                   NumberSyntax syntax = NumberSyntax::kDecimal) {
  static_assert(std::is_integral_v<Integer>);
  int base = syntax == NumberSyntax::kHex ? 16 : 10;
  if (syntax == NumberSyntax::kDecimalOrHex || syntax == NumberSyntax::kPrefixed) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      text.remove_prefix(2);
      base = 16;
    } else if (syntax == NumberSyntax::kPrefixed && text.size() > 1 && text[0] == '0') {
      text.remove_prefix(1);
      base = 8;
    }
  }
  Integer value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end)
    return std::nullopt;
  return value;
}

}  // namespace vantor::serial
