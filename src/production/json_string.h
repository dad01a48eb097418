// Text for JSON: every string the production record and the tools' --json events carry is valid
// UTF-8, also a port or file name in another encoding.
#pragma once

#include <string>
#include <string_view>

namespace vantor::production {

// The length of the valid UTF-8 sequence at byte `i` of `text` and, when asked, its code point;
// 0 when the bytes there are no valid UTF-8.
std::size_t Utf8Sequence(std::string_view text, std::size_t i, char32_t* codePoint = nullptr);

// `text` as valid UTF-8, for JSON: valid UTF-8 passes through; any other byte is taken as
// Latin-1 (0xFF becomes U+00FF), so that a port or file name in another encoding stays readable
// and reads back the same every time.
std::string Utf8Text(std::string_view text);

// `text` as a JSON string literal (quotes included), through Utf8Text.
std::string JsonString(std::string_view text);

// `value` rounded to `decimals` places: how the JSON outputs give seconds and percentages, so
// that they print short and stable ("1.234", not 1.2339999).
double RoundedTo(double value, int decimals);

}  // namespace vantor::production
