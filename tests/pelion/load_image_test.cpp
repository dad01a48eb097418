// "load image" (the slots' files at their device addresses, the flags word) and "Button7".
#include <gtest/gtest.h>
#include <QDir>

#include "device/files.h"
#include "pelion/slots.h"
#include "pelion_fixture.h"
#include "ui/paths.h"

namespace vantor::pelion::testing {
namespace {

using vantor::testing::PatternBytes;
using vantor::testing::ReadFileBytes;

class LoadImageTest : public PelionTest {
 protected:
  void SetUp() override {
    PelionTest::SetUp();
    StartWithoutDevice();
  }
  // Fills the four slots by drops (which also puts segments at the image offsets).
  void DropAllFour() {
    Drop(IDC_PATH_FIRMWARE, {m_firmware = WriteImage("fw.bin", PatternBytes(0x38000, 1))});
    Drop(IDC_PATH_BOOT, {m_boot = WriteImage("bl.bin", PatternBytes(0x4000, 2))});
    Drop(IDC_PATH_OEM, {m_oem = WriteImage("oem.bin", PatternBytes(0x3400, 3))});
    Drop(IDC_PATH_PARAMETER, {m_parameter = WriteImage("fp.bin", PatternBytes(0xC00, 4))});
  }
  QString m_firmware, m_boot, m_oem, m_parameter;
};

TEST_F(LoadImageTest, AllFourSlotsGoToTheTailInSlotOrder) {
  DropAllFour();
  PressAndWait(IDC_LOAD_IMAGE);
  const std::vector<std::uint32_t> expected{0x0,      0x38000,  0x3CC00,  0x3C000,
                                            0x100000, 0x138000, 0x13CC00, 0x13C000};
  EXPECT_EQ(SegmentAddresses(), expected);
  EXPECT_EQ(m_dlg->downloadFlags(), 0x3C690000u);
  const QString loaded = QStringLiteral("가 로드되었습니다.\n");
  const auto shown = [](const QString& path) { return QDir::toNativeSeparators(path); };
  EXPECT_EQ(MessageTexts(),
            std::vector<QString>{shown(m_firmware) + loaded + shown(m_boot) + loaded +
                                 shown(m_oem) + loaded + shown(m_parameter) + loaded});
  EXPECT_EQ(m_dlg->segments().Find(0x13CC00)->data, PatternBytes(0x3400, 3));
  EXPECT_EQ(m_dlg->hexView()->lineText(LineIndexOf(0x13CC00)),
            DataLine(0x13CC00, PatternBytes(16, 3)));

  // Twice gives the same as once.
  m_messages.clear();
  PressAndWait(IDC_LOAD_IMAGE);
  EXPECT_EQ(SegmentAddresses(), expected);
}

TEST_F(LoadImageTest, UncheckedSlotsLoseTheirSegmentsAndTheListingStays) {
  DropAllFour();
  PressAndWait(IDC_LOAD_IMAGE);
  const QString line0 = m_dlg->hexView()->lineText(0);
  for (const ImageSlot& slot : kImageSlots) {
    m_dlg->checkBox(slot.checkBox)->setChecked(false);
  }
  m_messages.clear();
  PressAndWait(IDC_LOAD_IMAGE);
  EXPECT_EQ(SegmentAddresses(), (std::vector<std::uint32_t>{0x0, 0x38000, 0x3CC00, 0x3C000}));
  EXPECT_EQ(m_dlg->downloadFlags(), 0u);
  EXPECT_EQ(MessageTexts(), std::vector<QString>{QString()});
  EXPECT_EQ(m_dlg->hexView()->lineText(0), line0);  // stale lines stay until "clear"
}

// A slot whose file was not taken is not reported as loaded, and a firmware that was not taken
// makes no code-area download: the summary, the list and the flags word say what was loaded.
TEST_F(LoadImageTest, MissingAndWrongSizedFilesAreNotReportedAsLoaded) {
  const QString loaded = QStringLiteral("가 로드되었습니다.\n");
  const QString notLoaded = QStringLiteral("을(를) 로드하지 못했습니다.\n");
  // Firmware checked with a missing file; boot one byte too long.
  m_dlg->checkBox(IDC_CHECK_FIRMWARE)->click();
  const QString missing = ui::FromPath(m_dir / "missing.bin");
  m_dlg->pathField(IDC_PATH_FIRMWARE)->setText(missing);
  const QString boot = WriteImage("bl.bin", PatternBytes(0x4001, 2));
  m_dlg->checkBox(IDC_CHECK_BOOT)->click();
  m_dlg->pathField(IDC_PATH_BOOT)->setText(boot);
  PressAndWait(IDC_LOAD_IMAGE);
  EXPECT_TRUE(m_dlg->segments().empty());
  EXPECT_EQ(m_dlg->downloadFlags(), 0u);
  EXPECT_EQ(MessageTexts(), (std::vector<QString>{QStringLiteral("Wrong Block Size"),
                                                  missing + notLoaded + boot + notLoaded}));

  // A good firmware beside a missing oem file: the firmware is loaded with its flags, the oem
  // file is named as not loaded.
  const QString firmware = WriteImage("fw.bin", PatternBytes(0x100, 1));
  m_dlg->pathField(IDC_PATH_FIRMWARE)->setText(firmware);
  m_dlg->checkBox(IDC_CHECK_BOOT)->click();  // unchecked
  m_dlg->checkBox(IDC_CHECK_OEM)->click();
  m_dlg->pathField(IDC_PATH_OEM)->setText(missing);
  m_messages.clear();
  PressAndWait(IDC_LOAD_IMAGE);
  EXPECT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x100000});
  EXPECT_EQ(m_dlg->downloadFlags(), 0x3C690000u);
  EXPECT_EQ(MessageTexts(), std::vector<QString>{firmware + loaded + missing + notLoaded});
}

TEST_F(LoadImageTest, FirmwareOfAnySize) {
  const QString firmware = WriteImage("fw.bin", {});
  m_dlg->checkBox(IDC_CHECK_FIRMWARE)->click();
  m_dlg->pathField(IDC_PATH_FIRMWARE)->setText(firmware);
  PressAndWait(IDC_LOAD_IMAGE);
  ASSERT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x100000});
  EXPECT_EQ(m_dlg->segments().begin()->length, 0);
}

// A firmware file longer than the window: the listing runs on past 13fff0: with its lines.
TEST_F(LoadImageTest, FirmwareLongerThanTheWindowRunsOnInTheListing) {
  const std::vector<std::uint8_t> bytes = PatternBytes(0x40000 + 0x18, 5);
  m_dlg->checkBox(IDC_CHECK_FIRMWARE)->click();
  m_dlg->pathField(IDC_PATH_FIRMWARE)->setText(WriteImage("fw.bin", bytes));
  PressAndWait(IDC_LOAD_IMAGE);
  HexListView* view = m_dlg->hexView();
  ASSERT_EQ(view->lineCount(), 16384 + 2);
  EXPECT_EQ(view->lineText(16383), DataLine(0x13fff0, std::span(bytes).subspan(0x3fff0, 16)));
  EXPECT_EQ(view->lineText(16384), DataLine(0x140000, std::span(bytes).subspan(0x40000, 16)));
  EXPECT_EQ(view->lineText(16385), DataLine(0x140010, std::span(bytes).subspan(0x40010)));
  EXPECT_EQ(view->caretLine(), 16385);
}

class Button7Test : public PelionTest {
 protected:
  void SetUp() override {
    PelionTest::SetUp();
    StartWithoutDevice();
  }
  std::filesystem::path Source() const { return device::DocumentsFolder() / "vantor.full.bin"; }
  std::filesystem::path Destination() const {
    return device::DocumentsFolder() / "vantor.code.bin";
  }
  void WriteSource(const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(device::WriteSegmentFile(Source(), bytes));
  }
};

TEST_F(Button7Test, CopiesAtMost128KiB) {
  struct Case {
    std::size_t sourceSize;
    std::size_t copied;
  };
  for (const Case c : {Case{0x30000, 0x20000}, Case{100, 100}}) {
    SCOPED_TRACE(c.sourceSize);
    const auto source = PatternBytes(c.sourceSize, 7);
    WriteSource(source);
    Press(IDC_BUTTON7);
    EXPECT_EQ(ReadFileBytes(Destination()),
              std::vector<std::uint8_t>(source.begin(), source.begin() + c.copied));
  }
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(Button7Test, MissingSourceLeavesTheDestination) {
  std::filesystem::remove(Source());
  ASSERT_TRUE(device::WriteSegmentFile(Destination(), PatternBytes(10, 1)));
  Press(IDC_BUTTON7);
  EXPECT_EQ(ReadFileBytes(Destination()), PatternBytes(10, 1));
  EXPECT_TRUE(m_messages.empty());
}

}  // namespace
}  // namespace vantor::pelion::testing
