// Image files taken into areas and slots (the one reader, the size rules, the fault texts), the
// saved read-back files and the read-back's box text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "device/files.h"
#include "device/image_files.h"
#include "device/texts.h"
#include "support/test_files.h"

namespace vantor::device {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Files in a fresh folder per test, removed afterwards.
class FileTest : public ::testing::Test {
 protected:
  fs::path File(const std::string& name, std::size_t size, std::uint8_t seed = 0) {
    const fs::path path = dir / name;
    vantor::testing::WriteFileBytes(path, vantor::testing::PatternBytes(size, seed));
    return path;
  }
  fs::path Text(const std::string& name, const std::string& text) {
    const fs::path path = dir / name;
    vantor::testing::WriteFileText(path, text);
    return path;
  }
  vantor::testing::TempFolder dir;
};

void Put(protocol::SegmentList& list, std::uint32_t address, Bytes data) {
  protocol::Segment s;
  s.address = address;
  s.length = static_cast<std::int32_t>(data.size());
  s.data = std::move(data);
  protocol::InsertSegment(list, std::move(s));
}

std::vector<std::uint32_t> Addresses(const protocol::SegmentList& list) {
  std::vector<std::uint32_t> out;
  for (const protocol::Segment& s : list)
    out.push_back(s.address);
  return out;
}

// Every size rule over raw files, as Quorix's areas, Pelion's drops and "load image" apply them.
TEST_F(FileTest, RawFilesFollowTheirPlacesSizeRule) {
  struct Case {
    const PlaceTable& table;
    const char* place;
    std::size_t size;
    TakeFault fault;
    const char* text;  // the programs' box text
    std::uint32_t address;
  };
  const Case cases[] = {
      {AreaPlaces(), "CODE", 0x18000, TakeFault::kNone, "", 0x108000},
      {AreaPlaces(), "CODE", 0x18001, TakeFault::kTooLarge, kWrongFileText, 0},
      {AreaPlaces(), "OEM", 0x3400, TakeFault::kNone, "", 0x13CC00},
      {AreaPlaces(), "OEM", 0x3401, TakeFault::kWrongBlockSize, kWrongBlockSizeText, 0},
      {AreaPlaces(), "BOOT", 40000, TakeFault::kNone, "", 0x100000},
      {DropPlaces(), "firmware", 0x38000, TakeFault::kNone, "", 0x0},  // at the image offset
      {DropPlaces(), "firmware", 0x100, TakeFault::kWrongBlockSize, kWrongBlockSizeText, 0},
      {DropPlaces(), "oem", 0x3400, TakeFault::kNone, "", 0x3CC00},
      {SlotPlaces(), "firmware", 0, TakeFault::kNone, "", 0x100000},  // any size, even none
      {SlotPlaces(), "boot", 0x4001, TakeFault::kWrongBlockSize, kWrongBlockSizeText, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table.noun) + " " + c.place + " " + std::to_string(c.size));
    protocol::SegmentList list;
    Put(list, 0x120000, {1, 2});  // another place's segment stays whatever happens
    const fs::path path = File("image.bin", c.size, 7);
    const TakenImage taken =
        TakeImageFile(c.table, FindPlace(c.table, c.place), path, ImageFormats::kRaw, list);
    EXPECT_EQ(taken.fault, c.fault);
    EXPECT_EQ(taken.text, c.text);
    if (c.fault != TakeFault::kNone) {
      EXPECT_EQ(Addresses(list), std::vector<std::uint32_t>{0x120000});
      continue;
    }
    ASSERT_EQ(Addresses(list), (std::vector<std::uint32_t>{0x120000, c.address}));
    const protocol::Segment& s = *list.Find(c.address);
    EXPECT_EQ(s.length, static_cast<std::int32_t>(c.size));
    EXPECT_EQ(s.data, vantor::testing::ReadFileBytes(path));
    ASSERT_EQ(taken.taken.size(), 1u);
    EXPECT_EQ(taken.taken[0].first, c.address);
  }
}

// The command-line tool prints the programs' text and then what is wrong with which file.
TEST_F(FileTest, FaultMessagesNameTheFileAndThePlace) {
  protocol::SegmentList list;
  const fs::path big = File("big.bin", 0x18001);
  EXPECT_EQ(
      TakeImageFile(AreaPlaces(), FindPlace(AreaPlaces(), "CODE"), big, ImageFormats::kDetect, list)
          .Message(),
      std::string(kWrongFileText) + "\n" + big.string() + ": 98305 bytes, CODE takes at most " +
          "98304");
  const fs::path shortOem = File("oem.bin", 10);
  EXPECT_EQ(TakeImageFile(AreaPlaces(), FindPlace(AreaPlaces(), "OEM"), shortOem,
                          ImageFormats::kDetect, list)
                .Message(),
            "Wrong Block Size\n" + shortOem.string() + ": 10 bytes, OEM takes exactly 13312");
  const fs::path missing = dir / "missing.bin";
  EXPECT_EQ(TakeImageFile(AreaPlaces(), FindPlace(AreaPlaces(), "OEM"), missing,
                          ImageFormats::kDetect, list)
                .Message(),
            "cannot read " + missing.string());
  EXPECT_TRUE(list.empty());
}

// A file that cannot be read leaves nothing of an earlier file for its place: the list never
// sends an older image under a newer name. Size faults keep the earlier image (the box says so).
TEST_F(FileTest, UnreadableFileTakesThePlacesEarlierImageOut) {
  for (const ImageFormats formats : {ImageFormats::kRaw, ImageFormats::kDetect}) {
    protocol::SegmentList list;
    const ImagePlace* oem = FindPlace(DropPlaces(), "oem");
    ASSERT_TRUE(TakeImageFile(DropPlaces(), oem, File("old.bin", 0x3400), formats, list).ok());
    Put(list, 0x38000, {9});
    EXPECT_EQ(TakeImageFile(DropPlaces(), oem, File("short.bin", 5), formats, list).fault,
              TakeFault::kWrongBlockSize);
    EXPECT_EQ(Addresses(list), (std::vector<std::uint32_t>{0x3CC00, 0x38000}));
    const TakenImage taken = TakeImageFile(DropPlaces(), oem, dir / "gone.bin", formats, list);
    EXPECT_EQ(taken.fault, TakeFault::kNotRead);
    EXPECT_TRUE(taken.text.empty());  // no box of its own
    EXPECT_EQ(Addresses(list), std::vector<std::uint32_t>{0x38000});
  }
}

// Addressed files: with a place their runs must lie in it; without one each run finds its place;
// a raw file without a place is refused.
TEST_F(FileTest, AddressedFilesAreDetectedAndPlaced) {
  // Two data records: 4 bytes at 0x100000 (BOOT) and 2 at 0x108000 (CODE).
  const fs::path hex = Text("two.hex",
                            ":020000040010EA\n"
                            ":0400000001020304F2\n"
                            ":028000000A0B69\n"
                            ":00000001FF\n");
  protocol::SegmentList list;
  const TakenImage byAddress =
      TakeImageFile(AreaPlaces(), nullptr, hex, ImageFormats::kDetect, list);
  ASSERT_TRUE(byAddress.ok()) << byAddress.Message();
  EXPECT_EQ(byAddress.format, ImageFormat::kIntelHex);
  ASSERT_EQ(byAddress.taken.size(), 2u);
  EXPECT_STREQ(byAddress.taken[0].second->name, "BOOT");
  EXPECT_STREQ(byAddress.taken[1].second->name, "CODE");
  EXPECT_EQ(list.Find(0x100000)->data, (Bytes{1, 2, 3, 4}));

  protocol::SegmentList named;
  const TakenImage intoCode = TakeImageFile(AreaPlaces(), FindPlace(AreaPlaces(), "CODE"), hex,
                                            ImageFormats::kDetect, named);
  EXPECT_EQ(intoCode.fault, TakeFault::kOutside);
  EXPECT_TRUE(named.empty());

  // The programs take every file raw: the same text file is bytes for BOOT.
  const TakenImage raw =
      TakeImageFile(AreaPlaces(), FindPlace(AreaPlaces(), "BOOT"), hex, ImageFormats::kRaw, named);
  ASSERT_TRUE(raw.ok());
  EXPECT_EQ(named.Find(0x100000)->length, static_cast<std::int32_t>(fs::file_size(hex)));

  EXPECT_EQ(
      TakeImageFile(AreaPlaces(), nullptr, File("raw.bin", 4), ImageFormats::kDetect, list).fault,
      TakeFault::kNeedsPlace);
  const TakenImage bad = TakeImageFile(AreaPlaces(), nullptr, Text("bad.hex", ":0400000001\n"),
                                       ImageFormats::kDetect, list);
  EXPECT_EQ(bad.fault, TakeFault::kMalformed);
  EXPECT_NE(bad.Message().find("bad.hex"), std::string::npos);
}

TEST_F(FileTest, SavedFileIsWholeOrReported) {
  EXPECT_EQ(ReadBackFileName(0x13cc00), "vantor.13cc00.bin");
  EXPECT_EQ(ReadBackFileName(0x1000), "vantor.001000.bin");
  const Bytes data(5000, 0x5A);
  const fs::path path = dir / ReadBackFileName(0x138000);
  ASSERT_TRUE(WriteSegmentFile(path, data));
  Bytes back;
  std::string error;
  ASSERT_TRUE(ReadImageFile(path, back, error));
  EXPECT_EQ(back, data);
  EXPECT_FALSE(WriteSegmentFile(dir / "no-such-folder" / "x.bin", data));
  EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

TEST_F(FileTest, DocumentsFolderIsMadeUnderHome) {
  const char* old = std::getenv("HOME");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("HOME", dir.path().c_str(), 1);
  const fs::path folder = DocumentsFolder();
  if (old != nullptr) {
    ::setenv("HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
  EXPECT_EQ(folder, dir / "Documents");
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST(ReadBackBoxTextTest, NamesEveryBlockAfterTheResult) {
  EXPECT_EQ(ReadBackBoxText(0, std::vector<std::uint32_t>{0x13C000}), "Uploaded \n\nblock 13c000");
  EXPECT_EQ(ReadBackBoxText(0, {}), "Uploaded \n");
  EXPECT_EQ(ReadBackBoxText(-1, std::vector<std::uint32_t>{0x138000, 0x13C000}),
            "통신에러 \n\nblock 138000\nblock 13c000");
}

}  // namespace
}  // namespace vantor::device
