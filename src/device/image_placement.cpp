// The placement rules of addressed image data over the memory map's areas and slots.
#include "device/image_placement.h"

#include <cstdio>
#include <utility>

#include "device/texts.h"

namespace vantor::device {

namespace {

constexpr ImagePlace FromArea(const Area& a) {
  return {a.name, a.address(), a.size, a.rule, a.downloadFlags};
}
constexpr ImagePlace FromSlot(std::size_t index) {
  const Slot& s = kSlots[index];
  return {s.name, s.address(), s.size, s.loadRule, index == kFirmwareSlot ? kCodeAreaFlags : 0};
}
constexpr ImagePlace DropSlot(const Slot& s) {
  return {s.name, s.offset, s.size, SizeRule::kExact, 0};
}
template <std::size_t... I>
constexpr std::array<ImagePlace, sizeof...(I)> DropRows(std::index_sequence<I...>) {
  return {DropSlot(kSlots[I])...};
}
template <std::size_t... I>
constexpr std::array<ImagePlace, sizeof...(I)> AreaRows(std::index_sequence<I...>) {
  return {FromArea(kAreas[I])...};
}
template <std::size_t... I>
constexpr std::array<ImagePlace, sizeof...(I)> SlotRows(std::index_sequence<I...>) {
  return {FromSlot(I)...};
}
// Row i of each table is row i of the memory map's table.
constexpr auto kAreaRows = AreaRows(std::make_index_sequence<kAreas.size()>());
constexpr auto kSlotRows = SlotRows(std::make_index_sequence<kSlots.size()>());
constexpr auto kDropRows = DropRows(std::make_index_sequence<kSlots.size()>());

std::string Range(const ImagePlace& p) {
  return p.rule == SizeRule::kAny ? "from " + Hex(p.address) : Hex(p.address) + ".." + Hex(p.end());
}

std::string DescribeRun(std::string_view file, const ImageRun& run) {
  return std::string(file) + ": data at " + Hex(run.address) + ".." + Hex(run.end()) + " (" +
         std::to_string(run.bytes.size()) + " bytes)";
}

bool Fail(PlacementError& error, PlacementFault fault, std::string message) {
  error.fault = fault;
  error.message = std::move(message);
  return false;
}

// The place whose range holds `address`, the nearest start below winning; null when none does.
const ImagePlace* Holder(const PlaceTable& table, std::uint64_t address) {
  const ImagePlace* best = nullptr;
  for (const ImagePlace& p : table.places) {
    if (p.address <= address && address < p.end() && (best == nullptr || p.address > best->address))
      best = &p;
  }
  return best;
}

// The size rule over the span from the place's start to `end`, one past the last byte.
bool CheckSpan(const ImagePlace& place, std::uint64_t end, std::string_view file,
               PlacementError& error) {
  const std::uint64_t span = end - place.address;
  if (place.rule == SizeRule::kExact && span != static_cast<std::uint64_t>(place.size)) {
    return Fail(error, PlacementFault::kWrongBlockSize,
                std::string(file) + ": data from " + Hex(place.address) + " ends at " + Hex(end) +
                    " (" + std::to_string(span) + " bytes), " + place.name + " takes exactly " +
                    std::to_string(place.size) + " (to " + Hex(place.end()) + ")");
  }
  return true;
}

}  // namespace

const PlaceTable& AreaPlaces() {
  static const PlaceTable table{"area", kAreaRows};
  return table;
}

const PlaceTable& SlotPlaces() {
  static const PlaceTable table{"slot", kSlotRows};
  return table;
}

const PlaceTable& DropPlaces() {
  static const PlaceTable table{"slot", kDropRows};
  return table;
}

const ImagePlace* FindPlace(const PlaceTable& table, std::string_view name) {
  if (table.places.data() == kAreaRows.data()) {
    const Area* area = FindArea(name);
    return area == nullptr ? nullptr : &kAreaRows[static_cast<std::size_t>(area - kAreas.data())];
  }
  const Slot* slot = FindSlot(name);
  return slot == nullptr ? nullptr : &table.places[static_cast<std::size_t>(slot - kSlots.data())];
}

bool CheckPlacement(const ImagePlace& place, std::span<const ImageRun> runs, std::string_view file,
                    PlacementError& error) {
  error = {};
  if (runs.empty())
    return Fail(error, PlacementFault::kOutside, std::string(file) + ": no data");
  for (const ImageRun& run : runs) {
    if (run.address < place.address || run.end() > place.end()) {
      // Data that starts inside but runs too far breaks the size rule; elsewhere it is misplaced.
      const bool startsInside = run.address >= place.address && run.address < place.end();
      const PlacementFault fault = !startsInside ? PlacementFault::kOutside
                                   : place.rule == SizeRule::kUpTo
                                       ? PlacementFault::kTooLarge
                                       : PlacementFault::kWrongBlockSize;
      return Fail(
          error, fault,
          DescribeRun(file, run) + " lies outside " + place.name + " (" + Range(place) + ")");
    }
  }
  return CheckSpan(place, runs.back().end(), file, error);
}

bool PlaceByAddress(const PlaceTable& table, std::span<const ImageRun> runs, std::string_view file,
                    std::vector<const ImagePlace*>& chosen, PlacementError& error) {
  error = {};
  chosen.clear();
  if (runs.empty())
    return Fail(error, PlacementFault::kOutside, std::string(file) + ": no data");
  for (const ImageRun& run : runs) {
    const ImagePlace* place = Holder(table, run.address);
    if (place == nullptr) {
      std::string ranges;
      for (const ImagePlace& p : table.places)
        ranges += std::string(ranges.empty() ? "" : ", ") + p.name + " " + Range(p);
      return Fail(error, PlacementFault::kOutside,
                  DescribeRun(file, run) + " starts in no " + table.noun + " (" + ranges + ")");
    }
    if (run.end() > place->end()) {
      const ImagePlace* other = Holder(table, run.end() - 1);
      return Fail(
          error, PlacementFault::kOutside,
          DescribeRun(file, run) + (other != nullptr && other->address > place->address
                                        ? " runs across two " + std::string(table.noun) + "s, " +
                                              place->name + " and " + other->name
                                        : " runs past the end of " + std::string(place->name) +
                                              " (" + Hex(place->end()) + ")"));
    }
    chosen.push_back(place);
  }
  // Each place's size rule over the span to its last byte (runs ascend, so the last one counts).
  for (const ImagePlace& p : table.places) {
    for (std::size_t i = runs.size(); i-- > 0;) {
      if (chosen[i] == &p) {
        if (!CheckSpan(p, runs[i].end(), file, error))
          return false;
        break;
      }
    }
  }
  return true;
}

}  // namespace vantor::device
