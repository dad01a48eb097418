// The memory map's areas, slots and read-back regions as the vantor tool's arguments name them,
// and the checks that turn NAME=FILE arguments into a segment list before anything is sent.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/memory_map.h"
#include "protocol/segments.h"

namespace vantor::cli {

using device::SizeRule;

struct ImageTarget {
  const char* name;
  std::uint32_t address;
  std::int32_t size;
  SizeRule rule;
};

// The memory map's areas (download) and slots (write, with the rule "load image" applies) as
// targets of NAME=FILE arguments.
// A target per row of `table`, with the size rule `rule` picks from the row.
template <typename Row, std::size_t N, typename Rule>
constexpr std::array<ImageTarget, N> TargetsOf(const std::array<Row, N>& table, Rule rule) {
  std::array<ImageTarget, N> targets{};
  for (std::size_t i = 0; i < N; ++i)
    targets[i] = {table[i].name, table[i].address(), table[i].size, rule(table[i])};
  return targets;
}
inline constexpr auto kAreas =
    TargetsOf(device::kAreas, [](const device::Area& a) { return a.rule; });
inline constexpr auto kSlots =
    TargetsOf(device::kSlots, [](const device::Slot& s) { return s.loadRule; });

using device::FindRegion;
using device::kRegions;
using device::Region;

// The target named `name` (case-insensitive), or null.
const ImageTarget* FindTarget(std::span<const ImageTarget> table, std::string_view name);

struct LoadedImages {
  SegmentList segments;
  std::vector<std::string> names;  // the targets' names in the order given
};

// Reads every NAME=FILE argument with its target's size rule into `images.segments` (one
// segment per address, a later argument replacing an earlier one). False with `error` naming the
// argument, the file and what is wrong (the programs' texts "잘못된 파일입니다." and
// "Wrong Block Size" for sizes); then nothing is to be sent.
bool LoadImages(std::span<const ImageTarget> table, const std::vector<std::string>& arguments,
                LoadedImages& images, std::string& error);

// The regions named by `names`, in ascending address order, each once; "binary" alone replaces
// all others (it is the whole window). False with `error` for an unknown name.
bool SelectRegions(const std::vector<std::string>& names, std::vector<Region>& regions,
                   std::string& error);

// The names of a table joined with ", " (for help texts and messages).
std::string TargetNames(std::span<const ImageTarget> table);
// Each target with its size rule and address, for help texts: "NAME (up to N bytes at
// ADDRESS), ...".
std::string DescribeTargets(std::span<const ImageTarget> table);

}  // namespace vantor::cli
