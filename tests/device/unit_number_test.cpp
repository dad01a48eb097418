// Unit numbers patched into a device's copy of the segments: the encodings, a number that does
// not fit, a place outside every segment or across a segment's end, and the shared list left as
// it was.
#include <gtest/gtest.h>

#include "device/unit_number.h"

namespace vantor::device {
namespace {

protocol::SegmentList TwoSegments() {
  protocol::SegmentList list;
  protocol::InsertSegment(list, protocol::Segment{0x1000, 16, std::vector<std::uint8_t>(16, 0xEE)});
  protocol::InsertSegment(list, protocol::Segment{0x2000, 8, std::vector<std::uint8_t>(8, 0xEE)});
  return list;
}

TEST(UnitNumberTest, PatchesTheDeviceCopyOnly) {
  using B = std::vector<std::uint8_t>;
  const struct {
    NumberPlace place;
    std::uint64_t number;
    B bytes;  // empty: the number does not fit or the place is refused
  } cases[] = {
      {{0x1004, 4, NumberEncoding::kLittleEndian}, 0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {{0x1004, 4, NumberEncoding::kBigEndian}, 0x12345678, {0x12, 0x34, 0x56, 0x78}},
      {{0x1000, 2, NumberEncoding::kLittleEndian}, 0xFFFF, {0xFF, 0xFF}},
      {{0x1000, 2, NumberEncoding::kLittleEndian}, 0x10000, {}},  // does not fit
      {{0x1000, 1, NumberEncoding::kBigEndian}, 256, {}},
      {{0x2000, 8, NumberEncoding::kBigEndian}, UINT64_MAX, B(8, 0xFF)},
      {{0x1000, 10, NumberEncoding::kLittleEndian}, 1, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {{0x100A, 6, NumberEncoding::kAscii}, 42, {'0', '0', '0', '0', '4', '2'}},
      {{0x100A, 6, NumberEncoding::kAscii}, 999999, {'9', '9', '9', '9', '9', '9'}},
      {{0x100A, 6, NumberEncoding::kAscii}, 1000000, {}},
      {{0x100D, 4, NumberEncoding::kLittleEndian}, 1, {}},  // across the segment's end
      {{0x1010, 1, NumberEncoding::kLittleEndian}, 1, {}},  // just after it
      {{0x3000, 2, NumberEncoding::kLittleEndian}, 1, {}},  // in no segment
      {{0x0FFF, 2, NumberEncoding::kLittleEndian}, 1, {}},  // starts before it
      {{0x1000, 0, NumberEncoding::kLittleEndian}, 0, {}},  // no size
  };
  for (const auto& c : cases) {
    const protocol::SegmentList shared = TwoSegments();
    UnitPatch patch;
    std::string error;
    const auto copy = PatchUnitNumber(shared, c.place, c.number, patch, error);
    const std::string what = std::to_string(c.place.address) + "/" + std::to_string(c.number);
    for (const protocol::Segment& s : shared)
      EXPECT_EQ(s.data, std::vector<std::uint8_t>(s.data.size(), 0xEE)) << what;
    if (c.bytes.empty()) {
      EXPECT_EQ(copy, nullptr) << what;
      EXPECT_FALSE(error.empty()) << what;
      continue;
    }
    ASSERT_NE(copy, nullptr) << what << ": " << error;
    EXPECT_EQ(patch.bytes, c.bytes) << what;
    EXPECT_EQ(patch.address, c.place.address) << what;
    EXPECT_EQ(patch.number, c.number) << what;
    // The copy holds the bytes at the place and the image elsewhere.
    std::vector<std::uint8_t> image;
    for (const protocol::Segment& s : *copy) {
      for (std::size_t i = 0; i < s.data.size(); ++i) {
        const std::uint32_t at = s.address + static_cast<std::uint32_t>(i);
        const bool inside = at >= c.place.address && at < c.place.address + c.place.size;
        EXPECT_EQ(s.data[i], inside ? c.bytes[at - c.place.address] : 0xEE) << what << " @" << at;
      }
    }
    EXPECT_EQ(copy->TotalBytes(), shared.TotalBytes());
  }
}

TEST(UnitNumberTest, PlaceIsCheckedBeforeANumberIsTaken) {
  const protocol::SegmentList list = TwoSegments();
  EXPECT_FALSE(CheckNumberPlace(list, {0x2000, 8, NumberEncoding::kAscii}));
  EXPECT_TRUE(CheckNumberPlace(list, {0x2004, 8, NumberEncoding::kAscii}));
  EXPECT_TRUE(CheckNumberPlace(list, {0x1000, 21, NumberEncoding::kAscii}));
  EXPECT_TRUE(CheckNumberPlace(protocol::SegmentList{}, {0, 1, NumberEncoding::kAscii}));
  NumberEncoding encoding{};
  EXPECT_TRUE(ParseNumberEncoding("be", encoding));
  EXPECT_EQ(encoding, NumberEncoding::kBigEndian);
  EXPECT_FALSE(ParseNumberEncoding("BE", encoding));
}

}  // namespace
}  // namespace vantor::device
