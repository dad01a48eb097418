// Segment lists: one segment per address, sending order.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/segments.h"

namespace vantor::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Segment Make(std::uint32_t address, Bytes data) {
  Segment s;
  s.address = address;
  s.length = static_cast<std::int32_t>(data.size());
  s.data = std::move(data);
  return s;
}

std::vector<std::uint32_t> Addresses(const SegmentList& list) {
  std::vector<std::uint32_t> out;
  for (const Segment& s : list)
    out.push_back(s.address);
  return out;
}

TEST(SegmentListTest, ReinsertedAddressMovesToTheEndWithItsNewData) {
  SegmentList list;
  InsertSegment(list, Make(0xA, {1}));
  InsertSegment(list, Make(0xB, {2}));
  InsertSegment(list, Make(0xC, {3}));
  InsertSegment(list, Make(0xB, {4, 5}));
  EXPECT_EQ(Addresses(list), (std::vector<std::uint32_t>{0xA, 0xC, 0xB}));
  EXPECT_EQ(list.Find(0xB)->data, (Bytes{4, 5}));
  EXPECT_EQ(list.TotalBytes(), 4);
  InsertSegment(list, Make(0xD, {6}));
  EXPECT_EQ(Addresses(list), (std::vector<std::uint32_t>{0xA, 0xC, 0xB, 0xD}));
  ClearSegments(list);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace vantor::protocol
