// The memory map: the look-ups and the relations the tools rely on.
#include "device/memory_map.h"

#include <gtest/gtest.h>

namespace vantor::device {
namespace {

TEST(MemoryMap, LooksUpNamesCaseInsensitively) {
  ASSERT_NE(FindArea("code"), nullptr);
  EXPECT_EQ(FindArea("code")->address(), 0x108000u);
  EXPECT_EQ(FindArea("CUSTOM"), nullptr);
  ASSERT_NE(FindSlot("Boot"), nullptr);
  EXPECT_EQ(FindSlot("Boot")->address(), 0x138000u);
  ASSERT_NE(FindRegion("OEM"), nullptr);
  EXPECT_EQ(FindRegion("OEM")->address, 0x13CC00u);
  EXPECT_EQ(FindRegion("log"), nullptr);
}

TEST(MemoryMap, RegionsAscendAndStayInsideTheWindow) {
  for (std::size_t i = 0; i < kRegions.size(); ++i) {
    const Region& r = kRegions[i];
    EXPECT_GE(r.address, kWindowBase) << r.name;
    EXPECT_LE(r.address + static_cast<std::uint32_t>(r.length),
              kWindowBase + static_cast<std::uint32_t>(kWindowSize))
        << r.name;
    if (i > 1) {
      EXPECT_GT(r.address, kRegions[i - 1].address) << r.name;
    }
  }
  for (std::size_t i = 1; i < kUploadOrder.size(); ++i)
    EXPECT_GT(kSlots[kUploadOrder[i]].address(), kSlots[kUploadOrder[i - 1]].address());
}

}  // namespace
}  // namespace vantor::device
