// Tests: reading back the flat JSON objects that the tool's JSON reporter writes.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::cli {

// The members of one flat object: strings unescaped (UTF-8), numbers and literals as written.
// Nullopt for anything that is not such an object.
std::optional<std::map<std::string, std::string>> ParseFlatJson(std::string_view line);

}  // namespace vantor::cli
