// Unit numbers: each device of a run gets a number of its own written into its image. The place
// (address, size, encoding) is checked against the run's segments before anything is sent; each
// device then gets a copy of the shared segment list with the number patched in, so that the
// shared list stays as read and verify compares against what this device was sent.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/segments.h"

namespace vantor::device {

enum class NumberEncoding {
  kLittleEndian,  // binary, least significant byte first
  kBigEndian,     // binary, most significant byte first
  kAscii,         // decimal digits, zero-padded to the size
};

struct NumberPlace {
  std::uint32_t address = 0;
  std::size_t size = 0;
  NumberEncoding encoding = NumberEncoding::kLittleEndian;
};

// What a device got: its number and the bytes written at `address`.
struct UnitPatch {
  std::uint64_t number = 0;
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

// The result code of a device that got no unit number (nothing was sent to it).
inline constexpr std::int32_t kErrorUnitNumber = -9100;

// "le", "be" or "ascii".
bool ParseNumberEncoding(const std::string& text, NumberEncoding& encoding);

// `number` as `place.size` bytes; false with `error` when it does not fit.
bool EncodeNumber(std::uint64_t number, const NumberPlace& place, std::vector<std::uint8_t>& bytes,
                  std::string& error);

// Why `place` cannot be patched in `segments` (no segment holds all its bytes, or a size of
// 0 or above 20), or nothing.
std::optional<std::string> CheckNumberPlace(const protocol::SegmentList& segments,
                                            const NumberPlace& place);

// A copy of `shared` with `number` at `place`; null with `error` when the number does not fit or
// no segment holds the place. `patch` tells what was written.
std::shared_ptr<const protocol::SegmentList> PatchUnitNumber(const protocol::SegmentList& shared,
                                                             const NumberPlace& place,
                                                             std::uint64_t number, UnitPatch& patch,
                                                             std::string& error);

}  // namespace vantor::device
