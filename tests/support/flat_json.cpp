// Tests: the tool's JSON lines read back through nlohmann-json (see flat_json.h).
#include "support/flat_json.h"

#include <nlohmann/json.hpp>

namespace vantor::testing {

namespace {

void Flatten(const nlohmann::json& value, const std::string& key, JsonMembers& members) {
  const auto join = [&](const std::string& inner) {
    return key.empty() ? inner : key + "." + inner;
  };
  if (value.is_object()) {
    for (const auto& [inner, member] : value.items())
      Flatten(member, join(inner), members);
  } else if (value.is_array()) {
    members[key] = std::to_string(value.size());
    for (std::size_t i = 0; i < value.size(); ++i)
      Flatten(value[i], join(std::to_string(i)), members);
  } else {
    members[key] = value.is_string() ? value.get<std::string>() : value.dump();
  }
}

}  // namespace

std::optional<JsonMembers> FlattenJson(std::string_view line) {
  const nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
  if (!value.is_object())
    return std::nullopt;
  JsonMembers members;
  Flatten(value, "", members);
  return members;
}

std::optional<JsonMembers> ParseFlatJson(std::string_view line) {
  const nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
  if (!value.is_object())
    return std::nullopt;
  for (const auto& [key, member] : value.items()) {
    if (member.is_structured())
      return std::nullopt;
  }
  return FlattenJson(line);
}

}  // namespace vantor::testing
