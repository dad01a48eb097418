// JSON string literals for the lines the production record and the tools' events are made of.
#pragma once

#include <string>
#include <string_view>

namespace vantor::production {

// `text` as a JSON string literal (quotes included). Valid UTF-8 passes through; any other byte
// is taken as Latin-1 so that the output is always valid UTF-8.
std::string JsonString(std::string_view text);

}  // namespace vantor::production
