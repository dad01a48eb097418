// The device's memory map as the vantor tool names it: Quorix's download areas (CODE, OEM, BOOT,
// PARAMETER), Pelion's image slots at their absolute addresses, and Pelion's read-back regions;
// and the checks that turn NAME=FILE arguments into a segment list before anything is sent.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/segments.h"

namespace vantor::cli {

enum class SizeRule {
  kUpTo,   // any size up to `size` ("잘못된 파일입니다." above it)
  kExact,  // exactly `size` ("Wrong Block Size" otherwise)
  kAny,    // any size
};

struct ImageTarget {
  const char* name;
  std::uint32_t address;
  std::int32_t size;
  SizeRule rule;
};

// Quorix's areas (download): target address = offset + 0x100000.
inline constexpr ImageTarget kAreas[] = {
    {"CODE", 0x108000, 0x18000, SizeRule::kUpTo},
    {"OEM", 0x13CC00, 0x3400, SizeRule::kExact},
    {"BOOT", 0x100000, 0, SizeRule::kAny},
    {"PARAMETER", 0x13C000, 0xC00, SizeRule::kExact},
};
// Pelion's slots as "load image" takes them (write).
inline constexpr ImageTarget kSlots[] = {
    {"firmware", 0x100000, 0, SizeRule::kAny},
    {"boot", 0x138000, 0x4000, SizeRule::kExact},
    {"oem", 0x13CC00, 0x3400, SizeRule::kExact},
    {"parameter", 0x13C000, 0xC00, SizeRule::kExact},
};

struct Region {
  const char* name;
  std::uint32_t address;
  std::int32_t length;
};
// Pelion's read-back regions, in ascending address order ("binary" is the whole window).
inline constexpr Region kRegions[] = {
    {"binary", 0x100000, 0x40000},  {"firmware", 0x100000, 0x38000}, {"boot", 0x138000, 0x4000},
    {"parameter", 0x13C000, 0xC00}, {"oem", 0x13CC00, 0x3400},
};

// The target named `name` (case-insensitive), or null.
const ImageTarget* FindTarget(std::span<const ImageTarget> table, std::string_view name);
const Region* FindRegion(std::string_view name);

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
