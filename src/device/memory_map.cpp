// Name look-ups over the memory map's tables.
#include "device/memory_map.h"

#include <algorithm>
#include <cctype>

namespace vantor::device {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

namespace {

template <typename Row, std::size_t N>
const Row* FindByName(const std::array<Row, N>& table, std::string_view name) {
  const auto it = std::find_if(table.begin(), table.end(),
                               [&](const Row& row) { return SameName(row.name, name); });
  return it == table.end() ? nullptr : &*it;
}

}  // namespace

const Area* FindArea(std::string_view name) {
  return FindByName(kAreas, name);
}
const Slot* FindSlot(std::string_view name) {
  return FindByName(kSlots, name);
}
const Region* FindRegion(std::string_view name) {
  return FindByName(kRegions, name);
}

}  // namespace vantor::device
