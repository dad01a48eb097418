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
inline constexpr std::array<ImageTarget, device::kAreas.size()> kAreas = [] {
  std::array<ImageTarget, device::kAreas.size()> targets{};
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const device::Area& a = device::kAreas[i];
    targets[i] = {a.name, a.address(), a.size, a.rule};
  }
  return targets;
}();
inline constexpr std::array<ImageTarget, device::kSlots.size()> kSlots = [] {
  std::array<ImageTarget, device::kSlots.size()> targets{};
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const device::Slot& s = device::kSlots[i];
    targets[i] = {s.name, s.address(), s.size, s.loadRule};
  }
  return targets;
}();

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

}  // namespace vantor::cli
