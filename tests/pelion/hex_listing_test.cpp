// The hex listing: line formats, the placeholder map of the window, segments written over it.
#include <gtest/gtest.h>

#include "pelion/hex_listing.h"
#include "pelion/slots.h"
#include "pelion_fixture.h"

namespace vantor::pelion::testing {
namespace {

using vantor::testing::PatternBytes;

const QString kDashes = QStringLiteral("-- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- ");

protocol::Segment MakeSegment(std::uint32_t address, std::vector<std::uint8_t> data) {
  protocol::Segment segment;
  segment.address = address;
  segment.length = static_cast<std::int32_t>(data.size());
  segment.data = std::move(data);
  return segment;
}

TEST(HexLineTest, Formats) {
  struct Case {
    QString line;
    QString expected;
  };
  const std::vector<std::uint8_t> bytes{0x00, 0x0f, 0xa5, 0xff};
  const Case cases[] = {
      {PlaceholderLine(0x100000), QStringLiteral("100000: ") + kDashes},
      {PlaceholderLine(0x13fff0), QStringLiteral("13fff0: ") + kDashes},
      {PlaceholderLine(0x10), QStringLiteral("00010: ") + kDashes},  // five digits at least
      {DataLine(0x100010, bytes), QStringLiteral("100010: 00 0f a5 ff ")},
      {DataLine(0x38000, PatternBytes(16, 1)),
       DataLine(0x38000, PatternBytes(20, 1))},  // 16 at most
      {DataLine(0x100000, {}), QStringLiteral("100000: ")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.line, c.expected);
  }
}

TEST(HexLineTest, LineIndexAndCount) {
  EXPECT_EQ(LineIndexOf(0x100000), 0);
  EXPECT_EQ(LineIndexOf(0x13C000), 15360);
  EXPECT_EQ(LineIndexOf(0x38000), -51200);
  EXPECT_EQ(LineIndexOf(0x0FFFF8), 0);  // truncated toward zero
  EXPECT_EQ(LineCountOf(0), 0);
  EXPECT_EQ(LineCountOf(20), 2);
  EXPECT_EQ(LineCountOf(0xC00), 192);
}

class HexViewTest : public ::testing::Test {
 protected:
  void SetUp() override { m_view.ResetToPlaceholders(); }
  // Lines that are no longer placeholders.
  std::vector<int> ChangedLines() const {
    std::vector<int> changed;
    for (int i = 0; i < m_view.lineCount(); ++i) {
      if (!m_view.lineText(i).endsWith(kDashes)) {
        changed.push_back(i);
      }
    }
    return changed;
  }
  HexListView m_view;
};

TEST_F(HexViewTest, SegmentReplacesOnlyItsLines) {
  struct Case {
    const char* name;
    std::uint32_t address;
    std::size_t length;
    int firstLine;  // -1: none shown
    int lines;
    int lineCount;  // of the whole listing afterwards
  };
  const Case cases[] = {
      {"parameter region", 0x13C000, 0xC00, 15360, 192, kWindowLines},
      {"20 bytes", 0x100000, 20, 0, 2, kWindowLines},
      {"length 0", 0x100000, 0, -1, 0, kWindowLines},
      {"below the window (dropped boot)", 0x38000, 0x4000, -1, 0, kWindowLines},
      {"last line of the window", 0x13FFF0, 16, 16383, 1, kWindowLines},
      // Lines from the end on are appended: the listing runs on with 140000: and later.
      {"past the end of the window", 0x13FFF0, 32, 16383, 2, kWindowLines + 1},
      {"firmware longer than the window", 0x100000, 0x40000 + 40, 0, kWindowLines + 3,
       kWindowLines + 3},
      {"beyond the end, not touching it", 0x140010, 16, -1, 0, kWindowLines},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_view.ResetToPlaceholders();
    const protocol::Segment segment = MakeSegment(c.address, PatternBytes(c.length, 3));
    m_view.ListSegment(segment, LineIndexOf(segment.address));
    EXPECT_EQ(m_view.lineCount(), c.lineCount);
    const std::vector<int> changed = ChangedLines();
    ASSERT_EQ(static_cast<int>(changed.size()), c.lines);
    if (c.lines > 0) {
      EXPECT_EQ(changed.front(), c.firstLine);
      EXPECT_EQ(changed.back(), c.firstLine + c.lines - 1);
      EXPECT_EQ(m_view.caretLine(), c.firstLine + c.lines - 1);  // the caret follows the listing
    }
  }
  // An appended line reads like any other line of its address.
  const std::vector<std::uint8_t> tail = PatternBytes(20, 7);
  m_view.ResetToPlaceholders();
  m_view.ListSegment(MakeSegment(0x13FFF0, tail), LineIndexOf(0x13FFF0));
  EXPECT_EQ(m_view.lineText(kWindowLines), DataLine(0x140000, std::span(tail).subspan(16)));
  m_view.ResetToPlaceholders();  // "clear" gives back the window alone
  EXPECT_EQ(m_view.lineCount(), kWindowLines);
}

TEST_F(HexViewTest, TwentyBytesGiveAFullLineAndAShortOne) {
  const protocol::Segment segment = MakeSegment(0x100000, PatternBytes(20, 5));
  m_view.ListSegment(segment, 0);
  EXPECT_EQ(m_view.lineText(0), DataLine(0x100000, std::span(segment.data).first(16)));
  EXPECT_EQ(m_view.lineText(1), DataLine(0x100010, std::span(segment.data).subspan(16)));
  EXPECT_EQ(m_view.lineText(1).count(QLatin1Char(' ')), 1 + 4);
  EXPECT_EQ(m_view.lineText(2), PlaceholderLine(0x100020));
}

TEST_F(HexViewTest, StaleLinesStayUntilCoveredOrReset) {
  m_view.ListSegment(MakeSegment(0x100000, PatternBytes(64, 1)), 0);
  const QString oldLine3 = m_view.lineText(3);
  m_view.ListSegment(MakeSegment(0x100000, PatternBytes(16, 2)), 0);
  EXPECT_EQ(m_view.lineText(0), DataLine(0x100000, PatternBytes(16, 2)));
  EXPECT_EQ(m_view.lineText(3), oldLine3);
  EXPECT_EQ(m_view.caretLine(), 0);
  m_view.ResetToPlaceholders();
  EXPECT_TRUE(ChangedLines().empty());
}

TEST(HexLogViewTest, ListsFromTopAndGrows) {
  HexListView view;
  protocol::SegmentList segments;
  protocol::InsertSegment(segments, MakeSegment(0x120000, PatternBytes(0x10000, 4)));
  protocol::InsertSegment(segments, MakeSegment(0x50, PatternBytes(20, 6)));
  view.ListSegmentsFromTop(segments);
  ASSERT_EQ(view.lineCount(), 4096 + 2);
  EXPECT_TRUE(view.lineText(0).startsWith(QStringLiteral("120000: ")));
  EXPECT_TRUE(view.lineText(4095).startsWith(QStringLiteral("12fff0: ")));
  EXPECT_TRUE(view.lineText(4096).startsWith(QStringLiteral("00050: ")));
  EXPECT_EQ(view.caretLine(), 4097);
}

// The main listing of the dialog, at start and after "clear".
class MainListingTest : public PelionTest {};

TEST_F(MainListingTest, PlaceholdersAtStartAndAfterClear) {
  StartWithoutDevice();
  auto expectPlaceholders = [this] {
    HexListView* view = m_dlg->hexView();
    ASSERT_EQ(view->lineCount(), 16384);
    EXPECT_EQ(view->lineText(0), QStringLiteral("100000: ") + kDashes);
    EXPECT_TRUE(view->lineText(16383).startsWith(QStringLiteral("13fff0: ")));
    for (int i = 0; i < view->lineCount(); ++i) {
      ASSERT_EQ(view->lineText(i), PlaceholderLine(0x100000 + 16 * static_cast<unsigned>(i)));
    }
  };
  expectPlaceholders();

  // Images loaded into the window, then "clear": placeholders again and no segments.
  const QString firmware = WriteImage("fw.bin", PatternBytes(0x38000, 1));
  m_dlg->checkBox(IDC_CHECK_FIRMWARE)->click();
  m_dlg->pathField(IDC_PATH_FIRMWARE)->setText(firmware);
  PressAndWait(IDC_LOAD_IMAGE);
  ASSERT_EQ(m_dlg->hexView()->lineText(0), DataLine(0x100000, PatternBytes(16, 1)));
  Press(IDC_CLEAR);
  EXPECT_TRUE(m_dlg->segments().empty());
  expectPlaceholders();
}

}  // namespace
}  // namespace vantor::pelion::testing
