// Unit numbers written into a device's copy of the image (see unit_number.h).
#include "device/unit_number.h"

#include <algorithm>

#include "device/texts.h"

namespace vantor::device {

namespace {

// Decimal digits of the largest 64-bit number.
constexpr std::size_t kMaxNumberBytes = 20;

const protocol::Segment* Holding(const protocol::SegmentList& segments, const NumberPlace& place) {
  for (const protocol::Segment& s : segments) {
    const std::uint64_t start = s.address;
    const std::uint64_t end = start + s.data.size();
    if (place.address >= start && place.address + std::uint64_t{place.size} <= end)
      return &s;
  }
  return nullptr;
}

}  // namespace

bool ParseNumberEncoding(const std::string& text, NumberEncoding& encoding) {
  if (text == "le")
    encoding = NumberEncoding::kLittleEndian;
  else if (text == "be")
    encoding = NumberEncoding::kBigEndian;
  else if (text == "ascii")
    encoding = NumberEncoding::kAscii;
  else
    return false;
  return true;
}

bool EncodeNumber(std::uint64_t number, const NumberPlace& place, std::vector<std::uint8_t>& bytes,
                  std::string& error) {
  bytes.assign(place.size, 0);
  if (place.encoding == NumberEncoding::kAscii) {
    const std::string digits = std::to_string(number);
    if (digits.size() > place.size) {
      error = "unit number " + digits + " does not fit " + std::to_string(place.size) +
              " decimal digit(s)";
      return false;
    }
    std::fill(bytes.begin(), bytes.end(), static_cast<std::uint8_t>('0'));
    std::copy(digits.begin(), digits.end(),
              bytes.end() - static_cast<std::ptrdiff_t>(digits.size()));
    return true;
  }
  if (place.size < 8 && (number >> (8 * place.size)) != 0) {
    error = "unit number " + std::to_string(number) + " does not fit " +
            std::to_string(place.size) + " byte(s)";
    return false;
  }
  for (std::size_t i = 0; i < place.size; ++i) {
    const std::uint8_t byte = i < 8 ? static_cast<std::uint8_t>(number >> (8 * i)) : 0;
    bytes[place.encoding == NumberEncoding::kLittleEndian ? i : place.size - 1 - i] = byte;
  }
  return true;
}

std::optional<std::string> CheckNumberPlace(const protocol::SegmentList& segments,
                                            const NumberPlace& place) {
  if (place.size == 0 || place.size > kMaxNumberBytes)
    return "unit number size must be 1 to " + std::to_string(kMaxNumberBytes) + " bytes";
  if (Holding(segments, place) == nullptr)
    return "unit number at " + Hex(place.address) + " (" + std::to_string(place.size) +
           " bytes) lies in no image being written";
  return std::nullopt;
}

std::shared_ptr<const protocol::SegmentList> PatchUnitNumber(const protocol::SegmentList& shared,
                                                             const NumberPlace& place,
                                                             std::uint64_t number, UnitPatch& patch,
                                                             std::string& error) {
  if (const auto problem = CheckNumberPlace(shared, place)) {
    error = *problem;
    return nullptr;
  }
  patch.number = number;
  patch.address = place.address;
  if (!EncodeNumber(number, place, patch.bytes, error))
    return nullptr;
  auto copy = std::make_shared<protocol::SegmentList>(shared);
  protocol::Segment* target = copy->Find(Holding(shared, place)->address);
  std::copy(patch.bytes.begin(), patch.bytes.end(),
            target->data.begin() + static_cast<std::ptrdiff_t>(place.address - target->address));
  return copy;
}

}  // namespace vantor::device
