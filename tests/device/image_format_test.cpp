// The image file readers and writers (Intel HEX, S-record, ELF) and the placement of their runs
// over the areas and slots: good files of each format, every kind of bad input with the line or
// offset it is reported at, and the placement rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "device/image_formats.h"
#include "device/image_placement.h"
#include "support/test_files.h"

namespace vantor::device {
namespace {

using vantor::testing::PatternBytes;

using Bytes = std::vector<std::uint8_t>;

struct Piece {
  std::uint32_t address;
  Bytes bytes;
  bool operator==(const Piece&) const = default;
};

std::vector<Piece> Plain(const std::vector<ImageRun>& runs) {
  std::vector<Piece> plain;
  for (const ImageRun& r : runs)
    plain.push_back({r.address, r.bytes});
  return plain;
}

std::span<const std::uint8_t> Span(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Records written by hand (checksums worked out independently of the writers).
TEST(ImageFormats, ReadsGoodTextFiles) {
  struct Case {
    const char* name;
    ImageFormat format;
    std::string text;
    std::vector<Piece> runs;
  };
  const Case cases[] = {
      {"hex: extended linear address, a gap stays a gap",
       ImageFormat::kIntelHex,
       ":020000040010EA\n:048000000102030472\n:02801000AABB09\n:00000001FF\n",
       {{0x108000, {1, 2, 3, 4}}, {0x108010, {0xAA, 0xBB}}}},
      {"hex: extended segment address",
       ImageFormat::kIntelHex,
       ":020000021000EC\n:020010001122BB\n:00000001FF\n",
       {{0x10010, {0x11, 0x22}}}},
      {"hex: start records are ignored",
       ImageFormat::kIntelHex,
       ":0400000300001234B3\n:040000050010800067\n:020010001122BB\n:00000001FF\n",
       {{0x0010, {0x11, 0x22}}}},
      {"hex: records out of order join when they touch",
       ImageFormat::kIntelHex,
       ":020004000506EF\n:0400000001020304F2\n:00000001FF\n",
       {{0, {1, 2, 3, 4, 5, 6}}}},
      {"hex: the same bytes twice",
       ImageFormat::kIntelHex,
       ":0400000001020304F2\n:03000200030405EF\n:00000001FF\n",
       {{0, {1, 2, 3, 4, 5}}}},
      {"hex: CR LF, lower case, blank lines, DOS end mark",
       ImageFormat::kIntelHex,
       "\r\n:020000040010ea\r\n\r\n:02801000aabb09\r\n:00000001ff\r\n\x1a",
       {{0x108010, {0xAA, 0xBB}}}},
      {"hex: the last 64 KiB of the address space",
       ImageFormat::kIntelHex,
       ":02000004FFFFFC\n:10FFF0000707070707070707070707070707070791\n:00000001FF\n",
       {{0xFFFFFFF0, Bytes(16, 7)}}},
      {"srec: S1 S2 S3 with header, count and S9",
       ImageFormat::kSrec,
       "S0060000686472BB\nS1061000010203E3\nS206108000040560\nS3060013C0000620\nS5030003F9\n"
       "S9030000FC\n",
       {{0x1000, {1, 2, 3}}, {0x108000, {4, 5}}, {0x13C000, {6}}}},
      {"srec: S8 ends, no count record, CR LF",
       ImageFormat::kSrec,
       "S206108000040560\r\nS8041080006B\r\n",
       {{0x108000, {4, 5}}}},
      {"srec: S6 count, S7 end, touching and repeated data",
       ImageFormat::kSrec,
       "S1061000010203E3\nS10510010203E4\nS104100304E4\nS604000003F8\nS70500000000FA\n",
       {{0x1000, {1, 2, 3, 4}}}},
      {"srec: up to the top of the address space",
       ImageFormat::kSrec,
       "S307FFFFFFFE0102FA\nS70500000000FA\n",
       {{0xFFFFFFFE, {1, 2}}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectImageFormat(Span(c.text)), c.format) << c.name;
    ParsedImage image;
    std::string error;
    ASSERT_TRUE(ParseImage(Span(c.text), "f", image, error)) << c.name << ": " << error;
    EXPECT_EQ(image.format, c.format) << c.name;
    EXPECT_EQ(Plain(image.runs), c.runs) << c.name;
  }
}

TEST(ImageFormats, RefusesBadTextFilesNamingTheLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string error;  // the whole message starts "app: "
  };
  const std::string end = ":00000001FF\n";
  const Case cases[] = {
      {"hex: wrong checksum", ":020000040010EA\n:048000000102030473\n" + end,
       "app: line 2: wrong checksum 0x73 (the record needs 0x72)"},
      {"hex: length byte and line disagree", ":020000040010EA\n:04800000010203F2\n" + end,
       "app: line 2: malformed record: 8 bytes where its length byte makes 9"},
      {"hex: not a hex digit", ":020000040010EA\n:0480000001020G0472\n" + end,
       "app: line 2: malformed record: 'G' is not a hex digit"},
      {"hex: odd number of digits", ":020000040010EA\n:04800000010203047\n" + end,
       "app: line 2: malformed record: an odd number of hex digits"},
      {"hex: a line without ':'", ":020000040010EA\n048000000102030472\n" + end,
       "app: line 2: malformed record: it does not start with ':'"},
      {"hex: address record of 3 bytes", ":03000004001000E9\n" + end,
       "app: line 1: malformed record: type 0x04 carries 2 data bytes, not 3"},
      {"hex: unknown record type", ":0400000001020304F2\n:00000006FA\n" + end,
       "app: line 2: unknown record type 0x06"},
      {"hex: overlapping different bytes", ":0400000001020304F2\n:020002000309F0\n" + end,
       "app: line 2: overlapping data: 0x09 at 0x000003 where other data gives 0x04"},
      {"hex: beyond 32 bits",
       ":02000004FFFFFC\n:10FFF80000000000000000000000000000000000F9\n" + end,
       "app: line 2: address beyond 32 bits (0xfffffff8 + 16 bytes)"},
      {"hex: a record past its 64 KiB segment",
       ":10FFF80000000000000000000000000000000000F9\n" + end,
       "app: line 1: malformed record: 16 bytes at offset 0xfff8 run past the end of the 64 KiB "
       "segment"},
      {"hex: no end record", ":0400000001020304F2\n",
       "app: no end-of-file record (type 01): the file is cut short"},
      {"hex: data after the end record", ":0400000001020304F2\n" + end + ":020004000506EF\n",
       "app: line 3: data after the end record"},
      {"hex: no data", ":020000040010EA\n" + end, "app: no data"},
      {"srec: wrong checksum", "S1061000010203E4\nS9030000FC\n",
       "app: line 1: wrong checksum 0xe4 (the record needs 0xe3)"},
      {"srec: count byte and line disagree", "S1071000010203E3\nS9030000FC\n",
       "app: line 1: malformed record: 7 bytes do not match its count byte (7) and its 2-byte "
       "address"},
      {"srec: unknown record type", "S1061000010203E3\nS4030000FC\nS9030000FC\n",
       "app: line 2: unknown record type S4"},
      {"srec: a line without S", "S1061000010203E3\n:00000001FF\n",
       "app: line 2: malformed record: it does not start with 'S' and a digit"},
      {"srec: count record disagrees", "S1061000010203E3\nS5030002FA\nS9030000FC\n",
       "app: line 2: the count record says 2 data records, the file has 1"},
      {"srec: overlapping different bytes", "S1061000010203E3\nS104100209E0\nS9030000FC\n",
       "app: line 2: overlapping data: 0x09 at 0x001002 where other data gives 0x03"},
      {"srec: beyond 32 bits", "S308FFFFFFFE010203F6\nS70500000000FA\n",
       "app: line 1: address beyond 32 bits (0xfffffffe + 3 bytes)"},
      {"srec: no termination", "S1061000010203E3\n",
       "app: no termination record (S7, S8 or S9): the file is cut short"},
      {"srec: no data", "S0060000686472BB\nS9030000FC\n", "app: no data"},
  };
  for (const Case& c : cases) {
    ParsedImage image;
    std::string error;
    EXPECT_FALSE(ParseImage(Span(c.text), "app", image, error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
}

TEST(ImageFormats, TellsTheFormatFromTheContent) {
  struct Case {
    const char* name;
    std::string content;
    ImageFormat format;
  };
  const Case cases[] = {
      {"raw bytes that start with ':'", ":\x01\x02\x03 binary data\n", ImageFormat::kRaw},
      {"text that starts like an S-record", "S1 serial 0042\n", ImageFormat::kRaw},
      {"a record too short to be one", ":0000\n", ImageFormat::kRaw},
      {"empty", "", ImageFormat::kRaw},
      {"hex after blank lines", "\n \r\n:00000001FF", ImageFormat::kIntelHex},
      {"hex whose first record has a bad checksum", ":00000001FE\n", ImageFormat::kIntelHex},
      {"srec", "S9030000FC", ImageFormat::kSrec},
      {"elf magic",
       std::string("\x7f"
                   "ELF",
                   4),
       ImageFormat::kElf},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DetectImageFormat(Span(c.content)), c.format) << c.name;
}

// A minimal ELF file: the header, the program headers, then each segment's file bytes.
struct ElfSegment {
  std::uint32_t type = 1;  // PT_LOAD
  std::uint64_t paddr = 0;
  Bytes bytes;
  std::uint64_t extraMemory = 0;  // memsz - filesz (.bss)
};

class ElfBuilder {
 public:
  ElfBuilder(bool is64, bool bigEndian) : m_is64(is64), m_big(bigEndian) {}
  Bytes Build(const std::vector<ElfSegment>& segments) const {
    const std::size_t header = m_is64 ? 64 : 52;
    const std::size_t entry = m_is64 ? 56 : 32;
    Bytes f(header + entry * segments.size());
    f[0] = 0x7F;
    f[1] = 'E';
    f[2] = 'L';
    f[3] = 'F';
    f[4] = m_is64 ? 2 : 1;
    f[5] = m_big ? 2 : 1;
    f[6] = 1;
    Put(f, 16, 2, 2);   // ET_EXEC
    Put(f, 18, 40, 2);  // a machine; not looked at
    Put(f, 20, 1, 4);
    Put(f, m_is64 ? 32 : 28, header, m_is64 ? 8 : 4);
    Put(f, m_is64 ? 52 : 40, header, 2);
    Put(f, m_is64 ? 54 : 42, entry, 2);
    Put(f, m_is64 ? 56 : 44, segments.size(), 2);
    for (std::size_t i = 0; i < segments.size(); ++i) {
      const ElfSegment& s = segments[i];
      const std::size_t at = header + i * entry;
      const std::uint64_t offset = f.size();
      const std::uint64_t vaddr = s.paddr + 0x20000000;  // a RAM view, to be ignored
      Put(f, at, s.type, 4);
      if (m_is64) {
        Put(f, at + 8, offset, 8);
        Put(f, at + 16, vaddr, 8);
        Put(f, at + 24, s.paddr, 8);
        Put(f, at + 32, s.bytes.size(), 8);
        Put(f, at + 40, s.bytes.size() + s.extraMemory, 8);
      } else {
        Put(f, at + 4, offset, 4);
        Put(f, at + 8, vaddr, 4);
        Put(f, at + 12, s.paddr, 4);
        Put(f, at + 16, s.bytes.size(), 4);
        Put(f, at + 20, s.bytes.size() + s.extraMemory, 4);
      }
      f.insert(f.end(), s.bytes.begin(), s.bytes.end());
    }
    return f;
  }
  void Put(Bytes& f, std::size_t at, std::uint64_t value, int size) const {
    for (int i = 0; i < size; ++i) {
      const int shift = 8 * (m_big ? size - 1 - i : i);
      f[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> shift);
    }
  }
  std::size_t PhdrField(std::size_t segment, const char* field) const {
    const std::size_t at = (m_is64 ? 64 : 52) + segment * (m_is64 ? 56 : 32);
    const std::string f = field;
    if (f == "offset")
      return at + (m_is64 ? 8 : 4);
    if (f == "filesz")
      return at + (m_is64 ? 32 : 16);
    return at + (m_is64 ? 24 : 12);  // paddr
  }
  int Word() const { return m_is64 ? 8 : 4; }

 private:
  bool m_is64;
  bool m_big;
};

TEST(ImageFormats, ReadsElfLoadSegmentsAtTheirPhysicalAddresses) {
  const Bytes code = PatternBytes(300, 1);
  const Bytes data = PatternBytes(40, 2);
  const std::vector<ElfSegment> segments{
      {4, 0x100000, PatternBytes(8, 9), 0},  // PT_NOTE: not loaded
      {1, 0x108000, code, 0},
      {1, 0x108200, data, 0x100},  // file bytes only; the .bss part is not sent
      {1, 0x130000, {}, 0x400},    // no file bytes at all
  };
  for (const bool is64 : {false, true}) {
    for (const bool big : {false, true}) {
      const Bytes file = ElfBuilder(is64, big).Build(segments);
      ParsedImage image;
      std::string error;
      ASSERT_TRUE(ParseImage(file, "app.elf", image, error)) << is64 << big << ": " << error;
      EXPECT_EQ(image.format, ImageFormat::kElf);
      EXPECT_EQ(Plain(image.runs), (std::vector<Piece>{{0x108000, code}, {0x108200, data}}))
          << is64 << big;
    }
  }
}

TEST(ImageFormats, RefusesBadElfFilesNamingTheOffset) {
  const std::vector<ElfSegment> one{{1, 0x108000, PatternBytes(64, 3), 0}};
  struct Case {
    const char* name;
    bool is64;
    std::function<void(const ElfBuilder&, Bytes&)> spoil;
    std::string error;
  };
  const Case cases[] = {
      {"unknown class", false, [](const ElfBuilder&, Bytes& f) { f[4] = 3; },
       "app.elf: offset 0x4: unknown ELF class 3"},
      {"header cut short", true, [](const ElfBuilder&, Bytes& f) { f.resize(40); },
       "app.elf: offset 0x28: truncated: the ELF header needs 64 bytes, the file has 40"},
      {"program headers cut short", false, [](const ElfBuilder&, Bytes& f) { f.resize(60); },
       "app.elf: offset 0x34: truncated: 1 program headers run past the end of the file (60 "
       "bytes)"},
      {"segment bytes cut short", true, [](const ElfBuilder&, Bytes& f) { f.resize(f.size() - 1); },
       "app.elf: offset 0x40: truncated: a loadable segment's 64 bytes at offset 0x78 run past "
       "the end of the file (183 bytes)"},
      {"more file bytes than memory", false,
       [](const ElfBuilder& b, Bytes& f) { b.Put(f, b.PhdrField(0, "filesz") + 4, 10, 4); },
       "app.elf: offset 0x34: inconsistent ELF: a loadable segment has 64 file bytes but 10 "
       "bytes in memory"},
      {"address beyond 32 bits", true,
       [](const ElfBuilder& b, Bytes& f) { b.Put(f, b.PhdrField(0, "paddr"), 0xFFFFFFF0, 8); },
       "app.elf: offset 0x40: address beyond 32 bits (0xfffffff0 + 64 bytes)"},
      {"no loadable segment", false, [](const ElfBuilder&, Bytes& f) { f[52] = 4; },
       "app.elf: no data"},
  };
  for (const Case& c : cases) {
    const ElfBuilder builder(c.is64, false);
    Bytes file = builder.Build(one);
    c.spoil(builder, file);
    ParsedImage image;
    std::string error;
    EXPECT_FALSE(ParseImage(file, "app.elf", image, error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }

  // Two segments that overlap with different bytes; the same bytes twice are fine.
  const Bytes a = PatternBytes(32, 1);
  Bytes b(a.begin() + 16, a.end());
  ParsedImage image;
  std::string error;
  EXPECT_TRUE(ParseImage(ElfBuilder(false, true).Build({{1, 0x108000, a}, {1, 0x108010, b}}),
                         "app.elf", image, error))
      << error;
  b[3] ^= 0xFF;
  EXPECT_FALSE(ParseImage(ElfBuilder(false, true).Build({{1, 0x108000, a}, {1, 0x108010, b}}),
                          "app.elf", image, error));
  EXPECT_EQ(
      error, "app.elf: offset 0x54: overlapping data: " + [&] {
        char text[64];
        std::snprintf(text, sizeof text, "0x%02x at 0x108013 where other data gives 0x%02x", b[3],
                      a[19]);
        return std::string(text);
      }());
}

TEST(ImageFormats, WritersMakeWhatTheReadersTakeBack) {
  // The exact text of a small file of each kind.
  EXPECT_EQ(FormatIntelHex(0x138000, Bytes{1, 2, 3}),
            ":020000040013E7\n:0380000001020377\n:00000001FF\n");
  EXPECT_EQ(FormatSrec(0x138000, Bytes{1, 2, 3}),
            "S009000076616E746F725C\nS2071380000102035F\nS5030001FB\nS804000000FB\n");

  struct Case {
    const char* name;
    std::uint32_t address;
    std::size_t size;
  };
  const Case cases[] = {
      {"boot slot", 0x138000, 0x4000},
      {"across a 64 KiB boundary, odd length", 0x10FFF5, 41},
      {"the whole window", 0x100000, 0x40000},
      {"above 24 bits", 0xFFFFFF00, 0x100},
  };
  for (const Case& c : cases) {
    const Bytes data = PatternBytes(c.size, static_cast<std::uint8_t>(c.size));
    for (const std::string& text : {FormatIntelHex(c.address, data), FormatSrec(c.address, data)}) {
      ParsedImage image;
      std::string error;
      ASSERT_TRUE(ParseImage(Span(text), "saved", image, error)) << c.name << ": " << error;
      EXPECT_EQ(Plain(image.runs), (std::vector<Piece>{{c.address, data}})) << c.name;
    }
  }
  EXPECT_EQ(SaveFileName(0x13cc00, SaveFormat::kBin), "vantor.13cc00.bin");
  EXPECT_EQ(SaveFileName(0x13cc00, SaveFormat::kIntelHex), "vantor.13cc00.hex");
  EXPECT_EQ(SaveFileName(0x13cc00, SaveFormat::kSrec), "vantor.13cc00.srec");
}

std::vector<ImageRun> Runs(std::initializer_list<std::pair<std::uint32_t, std::size_t>> spans) {
  std::vector<ImageRun> runs;
  for (const auto& [address, size] : spans)
    runs.push_back({address, Bytes(size, 0x5A)});
  return runs;
}

TEST(ImagePlacement, NamedAreaTakesOnlyDataInsideItUnderItsSizeRule) {
  struct Case {
    const char* name;
    const PlaceTable& table;
    const char* place;
    std::vector<ImageRun> runs;
    PlacementFault fault;
    std::string message;  // a part of it
  };
  const Case cases[] = {
      {"CODE with a gap", AreaPlaces(), "CODE", Runs({{0x108000, 0x100}, {0x110000, 0x10}}),
       PlacementFault::kNone, ""},
      {"CODE to its last byte", AreaPlaces(), "CODE", Runs({{0x11FF00, 0x100}}),
       PlacementFault::kNone, ""},
      {"CODE one byte too far", AreaPlaces(), "CODE", Runs({{0x11FF00, 0x101}}),
       PlacementFault::kTooLarge,
       "data at 0x11ff00..0x120001 (257 bytes) lies outside CODE "
       "(0x108000..0x120000)"},
      {"CODE below its start", AreaPlaces(), "CODE", Runs({{0x107FFF, 2}}),
       PlacementFault::kOutside, "lies outside CODE"},
      {"OEM to its end with a gap", AreaPlaces(), "OEM", Runs({{0x13CC00, 4}, {0x13FFF0, 0x10}}),
       PlacementFault::kNone, ""},
      {"OEM short of its end", AreaPlaces(), "OEM", Runs({{0x13CC00, 0x3000}}),
       PlacementFault::kWrongBlockSize, "OEM takes exactly 13312"},
      {"OEM past its end", AreaPlaces(), "OEM", Runs({{0x13CC00, 0x3401}}),
       PlacementFault::kWrongBlockSize, "lies outside OEM"},
      {"BOOT any size", AreaPlaces(), "BOOT", Runs({{0x100000, 0x30000}}), PlacementFault::kNone,
       ""},
      {"boot slot exactly", SlotPlaces(), "boot", Runs({{0x138000, 0x4000}}), PlacementFault::kNone,
       ""},
      {"parameter slot at the wrong address", SlotPlaces(), "parameter", Runs({{0x13CC00, 0xC00}}),
       PlacementFault::kOutside, "lies outside parameter"},
  };
  for (const Case& c : cases) {
    const ImagePlace* place = FindPlace(c.table, c.place);
    ASSERT_NE(place, nullptr) << c.name;
    PlacementError error;
    EXPECT_EQ(CheckPlacement(*place, c.runs, "app.hex", error), c.fault == PlacementFault::kNone)
        << c.name;
    EXPECT_EQ(error.fault, c.fault) << c.name << ": " << error.message;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << c.name << ": " << error.message;
  }
}

TEST(ImagePlacement, EachRunGoesWhereItsFirstByteLies) {
  struct Case {
    const char* name;
    const PlaceTable& table;
    std::vector<ImageRun> runs;
    std::vector<std::string> places;  // empty: refused with `message`
    std::string message;
  };
  const Case cases[] = {
      {"BOOT, CODE with a gap, PARAMETER",
       AreaPlaces(),
       Runs({{0x100000, 0x10}, {0x108000, 0x100}, {0x109000, 0x100}, {0x13C000, 0xC00}}),
       {"BOOT", "CODE", "CODE", "PARAMETER"},
       ""},
      {"only BOOT's range holds 0x130000", AreaPlaces(), Runs({{0x130000, 0x10}}), {"BOOT"}, ""},
      {"firmware and boot slots",
       SlotPlaces(),
       Runs({{0x100000, 0x100}, {0x138000, 0x4000}}),
       {"firmware", "boot"},
       ""},
      {"across PARAMETER and OEM",
       AreaPlaces(),
       Runs({{0x13C000, 0x1000}}),
       {},
       "app.hex: data at 0x13c000..0x13d000 (4096 bytes) runs across two areas, PARAMETER and "
       "OEM"},
      {"past the end of CODE",
       AreaPlaces(),
       Runs({{0x11F000, 0x2000}}),
       {},
       "runs past the end of CODE (0x120000)"},
      {"below every area",
       AreaPlaces(),
       Runs({{0x0F0000, 0x10}}),
       {},
       "data at 0x0f0000..0x0f0010 (16 bytes) starts in no area (CODE 0x108000..0x120000, OEM "
       "0x13cc00..0x140000, BOOT from 0x100000, PARAMETER 0x13c000..0x13cc00)"},
      {"PARAMETER short of its end",
       AreaPlaces(),
       Runs({{0x13C000, 0x10}}),
       {},
       "PARAMETER takes exactly 3072"},
      {"boot slot across parameter",
       SlotPlaces(),
       Runs({{0x138000, 0x4100}}),
       {},
       "runs across two slots, boot and parameter"},
  };
  for (const Case& c : cases) {
    std::vector<const ImagePlace*> chosen;
    PlacementError error;
    const bool ok = PlaceByAddress(c.table, c.runs, "app.hex", chosen, error);
    EXPECT_EQ(ok, !c.places.empty()) << c.name << ": " << error.message;
    if (ok) {
      std::vector<std::string> names;
      for (const ImagePlace* p : chosen)
        names.emplace_back(p->name);
      EXPECT_EQ(names, c.places) << c.name;
    } else {
      EXPECT_NE(error.message.find(c.message), std::string::npos)
          << c.name << ": " << error.message;
    }
  }
  // The flags word comes with the place: CODE and the firmware slot carry the code flags.
  EXPECT_EQ(FindPlace(AreaPlaces(), "code")->flags, kCodeAreaFlags);
  EXPECT_EQ(FindPlace(AreaPlaces(), "BOOT")->flags, 0u);
  EXPECT_EQ(FindPlace(SlotPlaces(), "firmware")->flags, kCodeAreaFlags);
}

}  // namespace
}  // namespace vantor::device
