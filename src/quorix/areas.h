// The download areas of the device that Quorix offers, and their size rules.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace vantor::quorix {

// Device base address: an area's segment goes to its offset plus this.
inline constexpr std::uint32_t kDeviceBase = 0x100000;
// The CODE area's offset and its largest file.
inline constexpr std::uint32_t kCodeOffset = 0x8000;
inline constexpr std::int32_t kCodeMaxSize = 0x18000;

struct Area {
  const char* name;
  std::uint32_t offset;
  std::int32_t size;  // byte count the next file must have, 0 = any
  std::uint32_t downloadFlags;
};

// The rows of the area combo, in its order.
inline constexpr std::array<Area, 4> kAreas{{
    {"CODE", 0x008000, 0x18000, 0x3C690000},
    {"OEM", 0x03CC00, 0x3400, 0},
    {"BOOT", 0x000000, 0x8000, 0},
    {"PARAMETER", 0x03C000, 0xC00, 0},
}};

// The row named `name` (exact, case-sensitive); none for other names.
std::optional<Area> FindArea(const QString& name);

// The area field's text: "0x%06x(%i)" of offset and size.
QString AreaFieldText(const Area& area);

}  // namespace vantor::quorix
