// Segment lists, image files read into segments, and saved read-back files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/files.h"
#include "protocol/segments.h"

namespace vantor {
namespace {

namespace fs = std::filesystem;
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

// A fresh folder per test, removed afterwards.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("vantor-segments-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path File(const std::string& name, std::size_t size) {
    const fs::path path = dir / name;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i)
      out.put(static_cast<char>(i * 3));
    return path;
  }
  fs::path dir;
};

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

TEST_F(FileTest, ImageFileBecomesASegment) {
  SegmentList list;
  InsertSegment(list, Make(0x100000, {9}));
  ASSERT_EQ(ReadImageFile(list, File("code.bin", 0x3400), 0x100000, 0x3400),
            ImageReadResult::kInserted);
  ASSERT_EQ(list.size(), 1u);  // replaced the earlier one at the same address
  const Segment& s = *list.begin();
  EXPECT_EQ(s.length, 0x3400);
  ASSERT_EQ(s.data.size(), 0x3400u);
  EXPECT_EQ(s.data[5], 15);
}

TEST_F(FileTest, WrongBlockSizeLeavesTheListUnchanged) {
  SegmentList list;
  InsertSegment(list, Make(0x120000, {1, 2}));
  EXPECT_EQ(ReadImageFile(list, File("big.bin", 0x3401), 0x130000, 0x3400),
            ImageReadResult::kWrongBlockSize);
  EXPECT_EQ(Addresses(list), (std::vector<std::uint32_t>{0x120000}));
  EXPECT_EQ(ReadImageFile(list, dir / "missing.bin", 0x130000, 0), ImageReadResult::kNotOpened);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(ReadImageFile(list, static_cast<std::FILE*>(nullptr), 0x130000, 0),
            ImageReadResult::kNotOpened);
}

TEST_F(FileTest, EmptyFileWithAnySizeIsAnEmptySegment) {
  SegmentList list;
  std::FILE* file = std::fopen(File("empty.bin", 0).c_str(), "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(ReadImageFile(list, file, 0x100000, 0), ImageReadResult::kInserted);  // closes it
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.begin()->length, 0);
  EXPECT_TRUE(list.begin()->data.empty());
}

TEST_F(FileTest, SavedFileIsWholeOrReported) {
  EXPECT_EQ(ReadBackFileName(0x13cc00), "vantor.13cc00.bin");
  EXPECT_EQ(ReadBackFileName(0x1000), "vantor.001000.bin");
  const Bytes data(5000, 0x5A);
  const fs::path path = dir / ReadBackFileName(0x138000);
  ASSERT_TRUE(WriteSegmentFile(path, data));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), data);
  EXPECT_FALSE(WriteSegmentFile(dir / "no-such-folder" / "x.bin", data));
  EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

TEST_F(FileTest, DocumentsFolderIsMadeUnderHome) {
  const char* old = std::getenv("HOME");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("HOME", dir.c_str(), 1);
  const fs::path folder = DocumentsFolder();
  if (old != nullptr) {
    ::setenv("HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
  EXPECT_EQ(folder, dir / "Documents");
  EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
}  // namespace vantor
