// Where the runs of an image file that carries its own addresses may go: into the area (or slot)
// the user named, or each run into the area (slot) whose range holds its first byte. The ranges
// and size rules come from the memory map.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/image_formats.h"
#include "device/memory_map.h"

namespace vantor::device {

// An area or slot as a destination of addressed data.
struct ImagePlace {
  const char* name;
  std::uint32_t address;
  std::int32_t size;
  SizeRule rule;
  std::uint32_t flags;  // the download flags word it implies
  // One past the last address it takes: a place of any size reaches to the end of the 32-bit
  // address space.
  constexpr std::uint64_t end() const {
    return rule == SizeRule::kAny ? std::uint64_t{1} << 32
                                  : std::uint64_t{address} + static_cast<std::uint32_t>(size);
  }
};

// The places of one command: its noun for messages and its rows.
struct PlaceTable {
  const char* noun;  // "area" or "slot"
  std::span<const ImagePlace> places;
};
// Quorix's areas (download) and Pelion's slots as "load image" takes them (write).
const PlaceTable& AreaPlaces();
const PlaceTable& SlotPlaces();
// Pelion's slots as a drop takes them: at their offsets in the image, each of its exact size.
// Row i is kSlots[i].
const PlaceTable& DropPlaces();
// The place named `name` (case-insensitive), or null.
const ImagePlace* FindPlace(const PlaceTable& table, std::string_view name);

// What is wrong with where a file's data would go; the front-end shows the programs' text for
// the size faults ("잘못된 파일입니다." for kTooLarge, "Wrong Block Size" for kWrongBlockSize).
enum class PlacementFault { kNone, kOutside, kTooLarge, kWrongBlockSize };
struct PlacementError {
  PlacementFault fault = PlacementFault::kNone;
  std::string message;  // names the file, the run and the place
};

// Checks that every run of `runs` (ascending, as a parsed image has them) lies inside `place` and
// that the span from the place's start to the last byte obeys its size rule.
bool CheckPlacement(const ImagePlace& place, std::span<const ImageRun> runs, std::string_view file,
                    PlacementError& error);

// Chooses for each run the place whose range holds its first byte (the nearest start below when
// several do) and checks that the run ends inside it and that each place's runs obey its size
// rule. `chosen[i]` is the place of `runs[i]`.
bool PlaceByAddress(const PlaceTable& table, std::span<const ImageRun> runs, std::string_view file,
                    std::vector<const ImagePlace*>& chosen, PlacementError& error);

}  // namespace vantor::device
