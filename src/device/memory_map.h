// The device's memory map as every tool names it, in one table each: Quorix's download areas
// with their size rules and flags, Pelion's image slots (offset in the image, absolute address,
// default file name), the read-back regions and the 256 KiB window the listings show.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/frames.h"

namespace vantor::device {

// Every area's and slot's offset is relative to this address.
inline constexpr std::uint32_t kDeviceBase = 0x100000;
// The memory window the hex listings show and "binary" reads back.
inline constexpr std::uint32_t kWindowBase = 0x100000;
inline constexpr std::int32_t kWindowSize = 0x40000;
// The download flags word while the CODE area (or Pelion's firmware slot) is involved.
inline constexpr std::uint32_t kCodeAreaFlags = protocol::kCodeDownloadFlags;

enum class SizeRule {
  kUpTo,   // any size up to `size` ("잘못된 파일입니다." above it)
  kExact,  // exactly `size` ("Wrong Block Size" otherwise)
  kAny,    // any size
};

// Quorix's download areas, in the area combo's order.
struct Area {
  const char* name;
  std::uint32_t offset;         // "0x%06x" in the area field
  std::int32_t size;            // the size shown, and the limit or exact size of its rule
  SizeRule rule;                // what a file taken in for it must be
  std::uint32_t downloadFlags;  // the flags word while it is selected
  constexpr std::uint32_t address() const { return kDeviceBase + offset; }
};
inline constexpr std::array<Area, 4> kAreas{{
    {"CODE", 0x008000, 0x18000, SizeRule::kUpTo, kCodeAreaFlags},
    {"OEM", 0x03CC00, 0x3400, SizeRule::kExact, 0},
    {"BOOT", 0x000000, 0x8000, SizeRule::kAny, 0},
    {"PARAMETER", 0x03C000, 0xC00, SizeRule::kExact, 0},
}};

// Pelion's image slots, in the order its drop handler and "load image" test them. A dropped
// file must have exactly `size` bytes; "load image" (the command-line `write`) takes the
// firmware slot at any size (`loadRule`).
struct Slot {
  const char* name;
  std::int32_t size;
  std::uint32_t offset;  // offset in the image: a dropped file's segment address
  const char* defaultFileName;
  SizeRule loadRule;
  constexpr std::uint32_t address() const { return kDeviceBase + offset; }
};
inline constexpr std::array<Slot, 4> kSlots{{
    {"firmware", 0x38000, 0x000000, "vantor.fw.bin", SizeRule::kAny},
    {"boot", 0x4000, 0x038000, "vantor.bl.bin", SizeRule::kExact},
    {"oem", 0x3400, 0x03CC00, "vantor.oem.bin", SizeRule::kExact},
    {"parameter", 0xC00, 0x03C000, "vantor.fp.bin", SizeRule::kExact},
}};
// The slot whose file makes a download carry kCodeAreaFlags.
inline constexpr std::size_t kFirmwareSlot = 0;

// Read-back regions, in ascending address order: the whole window ("binary") and one per slot.
struct Region {
  const char* name;
  std::uint32_t address;
  std::int32_t length;
};
inline constexpr std::array<Region, 5> kRegions{{
    {"binary", kWindowBase, kWindowSize},
    {"firmware", kSlots[0].address(), kSlots[0].size},
    {"boot", kSlots[1].address(), kSlots[1].size},
    {"parameter", kSlots[3].address(), kSlots[3].size},
    {"oem", kSlots[2].address(), kSlots[2].size},
}};
// The slots in ascending address order (the upload's order): firmware, boot, parameter, oem.
inline constexpr std::array<std::size_t, 4> kUploadOrder{0, 1, 3, 2};
// "upload log": one fixed 64 KiB region.
inline constexpr Region kUploadLogRegion{"log", 0x120000, 0x10000};

// Names compare case-insensitively (ASCII).
bool SameName(std::string_view a, std::string_view b);

// Look-ups by name, case-insensitive; null when none matches.
const Area* FindArea(std::string_view name);
const Slot* FindSlot(std::string_view name);
const Region* FindRegion(std::string_view name);

}  // namespace vantor::device
