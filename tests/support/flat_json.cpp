// The tool's one-line JSON objects read back with the record reader, nested members refused.
#include "support/flat_json.h"

#include <algorithm>

#include "production/record_reader.h"

namespace vantor::cli {

std::optional<std::map<std::string, std::string>> ParseFlatJson(std::string_view line) {
  auto members = production::ReadRecordFields(line);
  // A nested member reads back as "outer.inner" (an array also as its count under "outer").
  if (!members || std::any_of(members->begin(), members->end(), [](const auto& member) {
        return member.first.find('.') != std::string::npos;
      }))
    return std::nullopt;
  return members;
}

}  // namespace vantor::cli
