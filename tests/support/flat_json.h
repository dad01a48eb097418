// Tests: the tool's JSON lines read back through nlohmann-json into members a test can compare:
// strings unescaped (UTF-8), numbers and literals as the library prints them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::testing {

using JsonMembers = std::map<std::string, std::string>;

// The members of one object line, nested ones flattened to "result.code", "unit.number",
// "images.0.sha256" (an array also as its count under "images"). Nullopt for anything that is
// not one JSON object.
std::optional<JsonMembers> FlattenJson(std::string_view line);

// The members of one flat object (the reporter's events); nullopt for anything else, an object
// with a nested member included.
std::optional<JsonMembers> ParseFlatJson(std::string_view line);

}  // namespace vantor::testing
