// Image slots: the check boxes driving the path fields, and files dropped onto the fields.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include "pelion/slots.h"
#include "pelion_fixture.h"
#include "ui/paths.h"

namespace vantor::pelion::testing {
namespace {

using vantor::testing::PatternBytes;

class SlotsTest : public PelionTest {
 protected:
  void SetUp() override {
    PelionTest::SetUp();
    StartWithoutDevice();
  }
  QCheckBox* Box(int id) { return m_dlg->checkBox(id); }
  PathField* Field(int id) { return m_dlg->pathField(id); }
};

TEST_F(SlotsTest, CheckingABoxFillsAnEmptyFieldAndEnablesIt) {
  for (const ImageSlot& slot : kImageSlots) {
    SCOPED_TRACE(slot.device.name);
    Box(slot.checkBox)->click();
    EXPECT_EQ(Field(slot.pathField)->text(), QString::fromLatin1(slot.device.defaultFileName));
    EXPECT_TRUE(Field(slot.pathField)->isEnabled());
    Field(slot.pathField)->setText(QStringLiteral("kept.bin"));
    Box(slot.checkBox)->click();  // unchecked: disabled, text kept
    EXPECT_FALSE(Field(slot.pathField)->isEnabled());
    EXPECT_EQ(Field(slot.pathField)->text(), QStringLiteral("kept.bin"));
    Box(slot.checkBox)->click();  // checked again: the text stays
    EXPECT_EQ(Field(slot.pathField)->text(), QStringLiteral("kept.bin"));
    EXPECT_TRUE(Field(slot.pathField)->isEnabled());
  }
  EXPECT_TRUE(m_dlg->segments().empty());
}

TEST_F(SlotsTest, BinaryDisablesTheFourAndGivesThemBackAsTheirBoxesSay) {
  Box(IDC_CHECK_BOOT)->click();  // boot checked, the others not
  Box(IDC_CHECK_BINARY)->click();
  for (const ImageSlot& slot : kImageSlots) {
    EXPECT_FALSE(Box(slot.checkBox)->isEnabled()) << slot.device.name;
    EXPECT_FALSE(Field(slot.pathField)->isEnabled()) << slot.device.name;
  }
  EXPECT_TRUE(Box(IDC_CHECK_BOOT)->isChecked());
  EXPECT_TRUE(Field(IDC_PATH_BINARY)->isEnabled());
  EXPECT_EQ(Field(IDC_PATH_BINARY)->text(), QStringLiteral("vantor.bin"));

  Box(IDC_CHECK_BINARY)->click();
  for (const ImageSlot& slot : kImageSlots) {
    const bool checked = slot.checkBox == IDC_CHECK_BOOT;
    EXPECT_TRUE(Box(slot.checkBox)->isEnabled()) << slot.device.name;
    EXPECT_EQ(Field(slot.pathField)->isEnabled(), checked) << slot.device.name;
  }
  EXPECT_EQ(Field(IDC_PATH_BOOT)->text(), QStringLiteral("vantor.bl.bin"));
  EXPECT_FALSE(Field(IDC_PATH_BINARY)->isEnabled());
}

TEST_F(SlotsTest, DroppedFilesOfExactSizeBecomeSegmentsAtTheirOffsets) {
  struct Case {
    int field;
    int box;
    std::size_t size;
    std::uint32_t address;
  };
  const Case cases[] = {
      {IDC_PATH_FIRMWARE, IDC_CHECK_FIRMWARE, 229376, 0x000000},
      {IDC_PATH_BOOT, IDC_CHECK_BOOT, 16384, 0x038000},
      {IDC_PATH_OEM, IDC_CHECK_OEM, 13312, 0x03CC00},
      {IDC_PATH_PARAMETER, IDC_CHECK_PARAMETER, 3072, 0x03C000},
  };
  std::uint8_t seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    const auto bytes = PatternBytes(c.size, seed++);
    const QString path = WriteImage("slot" + std::to_string(c.field) + ".bin", bytes);
    Drop(c.field, {path});
    EXPECT_TRUE(Box(c.box)->isChecked());
    EXPECT_EQ(Field(c.field)->text(), QDir::toNativeSeparators(path));
    const protocol::Segment* segment = m_dlg->segments().Find(c.address);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->length, static_cast<std::int32_t>(c.size));
    EXPECT_EQ(segment->data, bytes);
  }
  EXPECT_EQ(SegmentAddresses(), (std::vector<std::uint32_t>{0x0, 0x38000, 0x3CC00, 0x3C000}));
  EXPECT_TRUE(m_messages.empty());
  // A drop changes neither the listing nor the progress bar.
  EXPECT_EQ(m_dlg->hexView()->lineText(0), PlaceholderLine(0x100000));
}

TEST_F(SlotsTest, WrongSizeKeepsTheEarlierSegment) {
  const auto good = PatternBytes(0x38000, 1);
  Drop(IDC_PATH_FIRMWARE, {WriteImage("good.bin", good)});
  const QString bad = WriteImage("bad.bin", PatternBytes(0x38001, 2));
  Drop(IDC_PATH_FIRMWARE, {bad});
  ASSERT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Wrong Block Size")});
  EXPECT_EQ(m_messages[0].caption, QStringLiteral("Pelion"));
  EXPECT_EQ(Field(IDC_PATH_FIRMWARE)->text(), QDir::toNativeSeparators(bad));
  EXPECT_TRUE(Box(IDC_CHECK_FIRMWARE)->isChecked());
  ASSERT_EQ(m_dlg->segments().size(), 1u);
  EXPECT_EQ(m_dlg->segments().Find(0x0)->data, good);
}

TEST_F(SlotsTest, DroppingASlotAgainMovesItsSegmentToTheEnd) {
  const QString firmware = WriteImage("fw.bin", PatternBytes(0x38000, 1));
  Drop(IDC_PATH_FIRMWARE, {firmware});
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
  Drop(IDC_PATH_OEM, {WriteImage("oem.bin", PatternBytes(0x3400, 3))});
  Drop(IDC_PATH_FIRMWARE, {firmware});
  EXPECT_EQ(SegmentAddresses(), (std::vector<std::uint32_t>{0x38000, 0x3CC00, 0x0}));
}

TEST_F(SlotsTest, DropsElsewhereDoNothing) {
  const QString boot = WriteImage("bl.bin", PatternBytes(0x4000, 2));
  for (int id : {IDC_PATH_BINARY, IDC_CHECK_BOOT, IDC_HEX_VIEW, IDC_UPLOAD}) {
    Drop(id, {boot});
  }
  m_dlg->OnDropFiles(QPoint(2, 2), {boot});  // the free area
  EXPECT_TRUE(m_dlg->segments().empty());
  EXPECT_FALSE(Box(IDC_CHECK_BOOT)->isChecked());
  EXPECT_TRUE(Field(IDC_PATH_BINARY)->text().isEmpty());
}

TEST_F(SlotsTest, OnlyTheFirstFileOfADropCounts) {
  const QString first = WriteImage("first.bin", PatternBytes(0x4000, 1));
  const QString second = WriteImage("second.bin", PatternBytes(0x4000, 2));
  Drop(IDC_PATH_BOOT, {first, second});
  EXPECT_EQ(Field(IDC_PATH_BOOT)->text(), QDir::toNativeSeparators(first));
  ASSERT_EQ(m_dlg->segments().size(), 1u);
  EXPECT_EQ(m_dlg->segments().Find(0x38000)->data, PatternBytes(0x4000, 1));
}

TEST_F(SlotsTest, MissingFileChecksTheBoxSilently) {
  const QString missing = ui::FromPath(m_dir / "missing.bin");
  Drop(IDC_PATH_OEM, {missing});
  EXPECT_TRUE(Box(IDC_CHECK_OEM)->isChecked());
  EXPECT_EQ(Field(IDC_PATH_OEM)->text(), QDir::toNativeSeparators(missing));
  EXPECT_TRUE(m_dlg->segments().empty());
  EXPECT_TRUE(m_messages.empty());
}

// A file that cannot be read after a good one: the field names the new file, so the good one's
// segment must not stay behind to be sent in its name. Other slots keep theirs.
TEST_F(SlotsTest, UnreadableFileLeavesNoEarlierImageInItsName) {
  Drop(IDC_PATH_OEM, {WriteImage("oem.bin", PatternBytes(0x3400, 3))});
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
  const QString missing = ui::FromPath(m_dir / "missing.bin");
  Drop(IDC_PATH_OEM, {missing});
  EXPECT_EQ(Field(IDC_PATH_OEM)->text(), QDir::toNativeSeparators(missing));
  EXPECT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x38000});
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(SlotsTest, DropOntoADisabledFieldStillCounts) {
  Box(IDC_CHECK_BINARY)->click();
  ASSERT_FALSE(Field(IDC_PATH_BOOT)->isEnabled());
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
  EXPECT_TRUE(Box(IDC_CHECK_BOOT)->isChecked());
  EXPECT_FALSE(Field(IDC_PATH_BOOT)->isEnabled());
  EXPECT_NE(m_dlg->segments().Find(0x38000), nullptr);
}

TEST_F(SlotsTest, ARealDropEventReachesTheField) {
  const QString path = WriteImage("fp.bin", PatternBytes(0xC00, 4));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(path)});
  const QPoint point = m_dlg->control(IDC_PATH_PARAMETER)->geometry().center();
  QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_dlg.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(point), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_dlg.get(), &drop);
  EXPECT_EQ(Field(IDC_PATH_PARAMETER)->text(), QDir::toNativeSeparators(path));
  EXPECT_NE(m_dlg->segments().Find(0x3C000), nullptr);
}

}  // namespace
}  // namespace vantor::pelion::testing
