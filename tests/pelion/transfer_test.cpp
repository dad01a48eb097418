// Transfers against the simulated device: download of the slots, upload and save, the upload log
// window, refusals without a port, and the controls held while a worker runs.
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

#include "device/files.h"
#include "pelion/image_wnd.h"
#include "pelion/slots.h"
#include "pelion_fixture.h"
#include "ui/paths.h"

namespace vantor::pelion::testing {
namespace {

using vantor::testing::PatternBytes;
using vantor::testing::ReadFileBytes;

using devsim::DeviceEvent;

constexpr std::uint32_t kBase = 0x100000;

// A device whose memory window is a known pattern.
devsim::DeviceOptions PatternedDevice() {
  devsim::DeviceOptions options;
  options.initialMemory = PatternBytes(0x40000, 9);
  return options;
}

std::vector<std::uint8_t> WindowBytes(std::uint32_t address, std::size_t count) {
  const auto window = PatternBytes(0x40000, 9);
  return {window.begin() + (address - kBase), window.begin() + (address - kBase + count)};
}

class TransferTest : public PelionTest {
 protected:
  // The addresses of the segments the device received, in order (the first data frame of each).
  std::vector<std::uint32_t> SegmentsOnTheWire() {
    std::vector<std::uint32_t> starts;
    bool expectFirst = false;
    m_device->With([&](devsim::Device& device) {
      for (const DeviceEvent& e : device.events()) {
        if (e.kind == DeviceEvent::Kind::kStartSegment) {
          expectFirst = true;
        } else if (e.kind == DeviceEvent::Kind::kDataFrame && expectFirst) {
          starts.push_back(e.address);
          expectFirst = false;
        }
      }
    });
    return starts;
  }
  void Check(int id, bool checked = true) { m_dlg->checkBox(id)->setChecked(checked); }
  // How many events of `kind` the device logged.
  int CountEvents(DeviceEvent::Kind kind) {
    int count = 0;
    m_device->With([&](devsim::Device& device) {
      for (const DeviceEvent& e : device.events()) {
        count += e.kind == kind ? 1 : 0;
      }
    });
    return count;
  }
};

TEST_F(TransferTest, DownloadSendsTheDroppedSlotsInListOrder) {
  StartWithDevice();
  const auto boot = PatternBytes(0x4000, 2);
  const auto oem = PatternBytes(0x3400, 3);
  const auto fp = PatternBytes(0xC00, 4);
  Drop(IDC_PATH_OEM, {WriteImage("oem.bin", oem)});
  Drop(IDC_PATH_PARAMETER, {WriteImage("fp.bin", fp)});
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", boot)});
  PressAndWait(IDC_DOWNLOAD_BINARY);

  EXPECT_TRUE(m_messages.empty()) << m_messages.front().text.toStdString();
  EXPECT_EQ(SegmentsOnTheWire(), (std::vector<std::uint32_t>{0x3CC00, 0x3C000, 0x38000}));
  m_device->With([&](devsim::Device& device) {
    EXPECT_EQ(device.lastDownloadFlags(), 0u);
    EXPECT_EQ(device.ReadMemory(0x38000, boot.size()), boot);
    EXPECT_EQ(device.ReadMemory(0x3CC00, oem.size()), oem);
    EXPECT_EQ(device.ReadMemory(0x3C000, fp.size()), fp);
  });
  EXPECT_EQ(m_dlg->progress()->value(), 100);
  // The port was closed by the worker: a second press opens it again.
  PressAndWait(IDC_DOWNLOAD_BINARY);
  EXPECT_TRUE(m_messages.empty());
}

// "load image" sets the flags word: 0x3C690000 with the firmware slot, else 0. The download sends
// it whole in the opening command and its bit 0 in every data frame.
TEST_F(TransferTest, LoadImageThenDownloadCarriesTheFlagsWord) {
  struct Case {
    const char* name;
    bool firmware;
    std::uint32_t flags;
    std::vector<std::uint32_t> segments;
  };
  const Case cases[] = {
      {"firmware and boot", true, 0x3C690000, {0x100000, 0x138000}},
      {"boot alone", false, 0, {0x138000}},
  };
  const auto firmware = PatternBytes(0x1800, 6);
  const auto boot = PatternBytes(0x4000, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    m_messages.clear();
    StartWithDevice();
    Check(IDC_CHECK_FIRMWARE, c.firmware);
    m_dlg->pathField(IDC_PATH_FIRMWARE)->setText(WriteImage("fw.bin", firmware));
    Check(IDC_CHECK_BOOT);
    m_dlg->pathField(IDC_PATH_BOOT)->setText(WriteImage("bl.bin", boot));
    PressAndWait(IDC_LOAD_IMAGE);
    EXPECT_EQ(m_dlg->downloadFlags(), c.flags);
    m_messages.clear();
    PressAndWait(IDC_DOWNLOAD_BINARY);
    EXPECT_TRUE(m_messages.empty()) << m_messages.front().text.toStdString();
    EXPECT_EQ(SegmentsOnTheWire(), c.segments);
    int dataFrames = 0;
    m_device->With([&](devsim::Device& device) {
      EXPECT_EQ(device.lastDownloadFlags(), c.flags);
      for (const DeviceEvent& e : device.events()) {
        if (e.kind == DeviceEvent::Kind::kDataFrame) {
          ++dataFrames;
          EXPECT_EQ(e.flags & 1u, c.flags & 1u) << "frame at " << std::hex << e.address;
        }
      }
      EXPECT_EQ(device.ReadMemory(0x138000, boot.size()), boot);
      if (c.firmware) {
        EXPECT_EQ(device.ReadMemory(0x100000, firmware.size()), firmware);
      }
    });
    EXPECT_GT(dataFrames, 0);
  }
}

// An empty list: the opening command alone, no segment, no box, the progress bar as it was.
TEST_F(TransferTest, DownloadOfAnEmptyList) {
  StartWithDevice();
  m_dlg->progress()->setValue(37);
  PressAndWait(IDC_DOWNLOAD_BINARY);
  EXPECT_TRUE(m_messages.empty());
  EXPECT_EQ(m_dlg->progress()->value(), 37);
  // The device may take the last bytes off the line after the port closed.
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return CountEvents(DeviceEvent::Kind::kOpenSession) == 1; }, 2000));
  EXPECT_EQ(CountEvents(DeviceEvent::Kind::kStartSegment), 0);
  EXPECT_EQ(CountEvents(DeviceEvent::Kind::kDataFrame), 0);
}

TEST_F(TransferTest, DownloadFailureShowsTheCode) {
  devsim::DeviceOptions options;
  options.refuseSegment = 0;
  options.refuseFrame = 0;
  StartWithDevice(options);
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
  PressAndWait(IDC_DOWNLOAD_BINARY);
  ASSERT_EQ(m_messages.size(), 1u);
  const QString text = m_messages[0].text;
  ASSERT_TRUE(text.startsWith(QStringLiteral("통신에러 \n"))) << text.toStdString();
  bool isNumber = false;
  const int code = text.mid(QStringLiteral("통신에러 \n").size()).toInt(&isNumber);
  EXPECT_TRUE(isNumber);
  EXPECT_LT(code, 0);
  EXPECT_EQ(m_messages[0].icon, ui::MessageIcon::kInformation);
  EXPECT_EQ(m_messages[0].caption, QStringLiteral("Pelion"));

  // The worker closed the port: a new press opens it again and reaches the device once more.
  PressAndWait(IDC_DOWNLOAD_BINARY);
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_EQ(m_messages[1].text, text);  // the device's refusal again, not the port's
  EXPECT_EQ(CountEvents(DeviceEvent::Kind::kOpenSession), 2);
}

TEST_F(TransferTest, TransfersRefuseWithoutAPortOrAnOpenOne) {
  struct Case {
    const char* name;
    int button;
    bool select;  // select a port that does not exist; else nothing selected
    const char* text;
  };
  const Case cases[] = {
      {"download, no selection", IDC_DOWNLOAD_BINARY, false, "통신 포트를 선택하십시오."},
      {"upload, no selection", IDC_UPLOAD, false, "통신 포트를 선택하십시오."},
      {"upload log, no selection", IDC_UPLOAD_LOG, false, "통신 포트를 선택하십시오."},
      {"download, port missing", IDC_DOWNLOAD_BINARY, true, "통신포트를 열지 못했습니다."},
      {"upload, port missing", IDC_UPLOAD, true, "통신포트를 열지 못했습니다."},
      {"upload log, port missing", IDC_UPLOAD_LOG, true, "통신포트를 열지 못했습니다."},
  };
  StartWithoutDevice();
  m_dlg->comPorts()->addItem(ui::FromPath(m_dir / "no-such-port"));
  const QString firmware = WriteImage("fw.bin", PatternBytes(0x38000, 1));
  Drop(IDC_PATH_FIRMWARE, {firmware});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_messages.clear();
    m_dlg->comPorts()->setCurrentIndex(c.select ? m_dlg->comPorts()->count() - 1 : -1);
    Press(c.button);
    EXPECT_FALSE(m_dlg->workerRunning());
    ASSERT_EQ(MessageTexts(), std::vector<QString>{QString::fromUtf8(c.text)});
    EXPECT_EQ(m_messages[0].icon, ui::MessageIcon::kInformation);
    EXPECT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x0});  // the list is untouched
    EXPECT_TRUE(m_dlg->findChildren<CImageWnd*>().isEmpty());
  }
}

TEST_F(TransferTest, UploadReadsTheCheckedRegionsAndSaveWritesThem) {
  StartWithDevice(PatternedDevice());
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});  // discarded by the upload
  for (int id : {IDC_CHECK_OEM, IDC_CHECK_PARAMETER, IDC_CHECK_FIRMWARE, IDC_CHECK_BOOT}) {
    Check(id);
  }
  PressAndWait(IDC_UPLOAD);

  ASSERT_EQ(MessageTexts(),
            std::vector<QString>{QStringLiteral(
                "Uploaded \n\nblock 100000\nblock 138000\nblock 13c000\nblock 13cc00")});
  struct Region {
    std::uint32_t address;
    std::size_t length;
  };
  const Region regions[] = {
      {0x100000, 0x38000}, {0x138000, 0x4000}, {0x13C000, 0xC00}, {0x13CC00, 0x3400}};
  ASSERT_EQ(m_dlg->segments().size(), 4u);
  auto segment = m_dlg->segments().begin();
  for (const Region& region : regions) {
    EXPECT_EQ(segment->address, region.address);
    EXPECT_EQ(segment->data, WindowBytes(region.address, region.length));
    ++segment;
  }
  // The whole window is listed; the caret stands on the last line of the last segment.
  HexListView* view = m_dlg->hexView();
  for (int line : {0, 15359, 15360, 16383}) {
    const std::uint32_t address = kBase + 16 * static_cast<std::uint32_t>(line);
    EXPECT_EQ(view->lineText(line), DataLine(address, WindowBytes(address, 16)));
  }
  EXPECT_EQ(view->caretLine(), 16383);
  EXPECT_EQ(m_dlg->progress()->value(), 100);

  m_messages.clear();
  Press(IDC_SAVE);
  QString summary = QStringLiteral("Saved\n\n");
  for (const Region& region : regions) {
    const auto path = device::DocumentsFolder() / device::ReadBackFileName(region.address);
    EXPECT_EQ(ReadFileBytes(path), WindowBytes(region.address, region.length)) << path;
    summary += QString::fromStdString(path.string()) + QStringLiteral("\n");
  }
  EXPECT_EQ(MessageTexts(), std::vector<QString>{summary});
  EXPECT_TRUE(std::filesystem::exists(device::DocumentsFolder() /
                                      "vantor.13cc00.bin"));  // six-digit lower case
}

TEST_F(TransferTest, BinaryUploadIsOneWholeWindowSegment) {
  StartWithDevice(PatternedDevice());
  Check(IDC_CHECK_BINARY);
  Check(IDC_CHECK_BOOT);
  PressAndWait(IDC_UPLOAD);
  ASSERT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x100000});
  EXPECT_EQ(m_dlg->segments().begin()->data, WindowBytes(kBase, 0x40000));
  // "save" writes the whole window: 262144 bytes, the device's own.
  Press(IDC_SAVE);
  const auto saved = ReadFileBytes(device::DocumentsFolder() / "vantor.100000.bin");
  EXPECT_EQ(saved.size(), 262144u);
  EXPECT_EQ(saved, WindowBytes(kBase, 0x40000));
}

TEST_F(TransferTest, UploadWithNoBoxEmptiesTheListAndSaveWritesNothing) {
  StartWithDevice(PatternedDevice());
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
  Check(IDC_CHECK_BOOT, false);
  PressAndWait(IDC_UPLOAD);
  EXPECT_TRUE(m_dlg->segments().empty());
  EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Uploaded \n")});
  m_messages.clear();
  Press(IDC_SAVE);
  EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Saved\n\n")});
}

TEST_F(TransferTest, SaveOfDroppedSlotsAndAFailedPath) {
  StartWithoutDevice();
  const auto boot = PatternBytes(0x4000, 2);
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", boot)});
  Drop(IDC_PATH_PARAMETER, {WriteImage("fp.bin", PatternBytes(0xC00, 4))});
  // A directory where the parameter file should go: that one cannot be written.
  const auto blocked = device::DocumentsFolder() / device::ReadBackFileName(0x3C000);
  std::filesystem::create_directories(blocked);
  Press(IDC_SAVE);
  EXPECT_EQ(ReadFileBytes(device::DocumentsFolder() / "vantor.038000.bin"), boot);
  const QString blockedText = QString::fromStdString(blocked.string());
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_EQ(m_messages[0].text, QStringLiteral("Can't saved\n\n") + blockedText);
  // The final box lists the file written, not the one that failed.
  EXPECT_EQ(m_messages[1].text,
            QStringLiteral("Saved\n\n") +
                QString::fromStdString((device::DocumentsFolder() / "vantor.038000.bin").string()) +
                QStringLiteral("\n"));
}

TEST_F(TransferTest, FailedReadBackLeavesTheListing) {
  devsim::DeviceOptions options = PatternedDevice();
  options.readBackReply = devsim::ReadBackReply::kMalformed;
  options.readBackFaultFrom = 3;
  StartWithDevice(options);
  Check(IDC_CHECK_PARAMETER);
  PressAndWait(IDC_UPLOAD);
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_TRUE(m_messages[0].text.startsWith(QStringLiteral("통신에러 \n")))
      << m_messages[0].text.toStdString();
  EXPECT_TRUE(m_messages[0].text.endsWith(QStringLiteral("block 13c000")));
  EXPECT_EQ(m_messages[0].icon, ui::MessageIcon::kInformation);
  for (int line : {15360, 15551}) {
    EXPECT_EQ(m_dlg->hexView()->lineText(line),
              PlaceholderLine(kBase + 16 * static_cast<std::uint32_t>(line)));
  }
}

// A device whose replies turn malformed from the n-th "~du" on: whatever was not read whole is
// never saved, and every file that is saved holds the device's bytes.
TEST_F(TransferTest, SaveWritesOnlyRegionsThatWereReadWhole) {
  struct Case {
    const char* name;
    std::vector<int> boxes;
    int faultFrom;  // the first malformed "~du" reply, counted from 0
    const char* box;
    std::vector<std::pair<std::uint32_t, std::size_t>> saved;  // address, length
    std::vector<std::uint32_t> unread;
  };
  const Case cases[] = {
      {"boot, fifth reply malformed",
       {IDC_CHECK_BOOT},
       4,
       "통신에러 \n\nblock 138000",
       {},
       {0x138000}},
      // parameter takes 48 pieces and is read whole; oem fails at its third.
      {"parameter read, oem not",
       {IDC_CHECK_PARAMETER, IDC_CHECK_OEM},
       50,
       "통신에러 \n\nblock 13c000\nblock 13cc00",
       {{0x13C000, 0xC00}},
       {0x13CC00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    m_messages.clear();
    std::filesystem::remove_all(device::DocumentsFolder());
    devsim::DeviceOptions options = PatternedDevice();
    options.readBackReply = devsim::ReadBackReply::kMalformed;
    options.readBackFaultFrom = c.faultFrom;
    StartWithDevice(options);
    for (int id : c.boxes) {
      Check(id);
    }
    PressAndWait(IDC_UPLOAD);
    EXPECT_EQ(MessageTexts(), std::vector<QString>{QString::fromUtf8(c.box)});
    std::vector<std::uint32_t> kept;
    for (const auto& [address, length] : c.saved) {
      kept.push_back(address);
    }
    EXPECT_EQ(SegmentAddresses(), kept);

    m_messages.clear();
    Press(IDC_SAVE);
    QString summary = QStringLiteral("Saved\n\n");
    for (const auto& [address, length] : c.saved) {
      const auto path = device::DocumentsFolder() / device::ReadBackFileName(address);
      EXPECT_EQ(ReadFileBytes(path), WindowBytes(address, length)) << path;
      summary += QString::fromStdString(path.string()) + QStringLiteral("\n");
    }
    EXPECT_EQ(MessageTexts(), std::vector<QString>{summary});
    for (std::uint32_t address : c.unread) {
      EXPECT_FALSE(
          std::filesystem::exists(device::DocumentsFolder() / device::ReadBackFileName(address)));
    }
  }
}

TEST_F(TransferTest, UploadLogOpensANewWindowPerPress) {
  StartWithDevice(PatternedDevice());
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
  PressAndWait(IDC_UPLOAD_LOG);
  PressAndWait(IDC_UPLOAD_LOG);
  const QList<CImageWnd*> windows = m_dlg->findChildren<CImageWnd*>();
  ASSERT_EQ(windows.size(), 2);
  for (CImageWnd* window : windows) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Dialog"));
    EXPECT_TRUE(window->isVisible());
    HexListView* list = window->list();
    ASSERT_EQ(list->lineCount(), 4096);
    EXPECT_EQ(list->lineText(0), DataLine(0x120000, WindowBytes(0x120000, 16)));
    EXPECT_TRUE(list->lineText(4095).startsWith(QStringLiteral("12fff0: ")));
    EXPECT_EQ(list->lineText(4095), DataLine(0x12fff0, WindowBytes(0x12fff0, 16)));
  }
  EXPECT_EQ(MessageTexts(), (std::vector<QString>(2, QStringLiteral("Uploaded \n\nblock 120000"))));
  // Neither the list nor the main listing is touched.
  EXPECT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x38000});
  EXPECT_EQ(m_dlg->hexView()->lineText(8192), PlaceholderLine(0x120000));

  // A closed window is released.
  QPointer<CImageWnd> first = windows[0];
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(first.isNull());
  EXPECT_EQ(m_dlg->findChildren<CImageWnd*>().size(), 1);
}

// The result box belongs to the main dialog; once it is closed the upload log window is in front
// again, not hidden under the dialog.
TEST_F(TransferTest, UploadLogWindowStaysInFrontAfterItsBox) {
  StartWithDevice(PatternedDevice());
  ui::SetMessageHook({});  // a real box, closed by the user
  QString boxText;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxText = box->text();
      box->accept();
    }
  });
  closer.start(20);
  PressAndWait(IDC_UPLOAD_LOG);
  closer.stop();
  EXPECT_EQ(boxText, QStringLiteral("Uploaded \n\nblock 120000"));
  const QList<CImageWnd*> windows = m_dlg->findChildren<CImageWnd*>();
  ASSERT_EQ(windows.size(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == windows[0]; }, 1000));
}

// The upload log moves the main dialog's progress bar from its start up to 100.
TEST_F(TransferTest, UploadLogMovesTheMainProgressBar) {
  StartWithDevice(PatternedDevice());
  std::vector<int> positions;
  QObject::connect(m_dlg->progress(), &QProgressBar::valueChanged,
                   [&](int value) { positions.push_back(value); });
  PressAndWait(IDC_UPLOAD_LOG);
  ASSERT_GE(positions.size(), 10u);  // 1024 pieces: many steps, not a jump
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_LT(positions.front(), 5);
  EXPECT_EQ(positions.back(), 100);
  EXPECT_EQ(m_dlg->progress()->value(), 100);
}

TEST_F(TransferTest, UploadLogFailureStillFillsTheWindow) {
  devsim::DeviceOptions options = PatternedDevice();
  options.readBackReply = devsim::ReadBackReply::kMalformed;
  StartWithDevice(options);
  PressAndWait(IDC_UPLOAD_LOG);
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_TRUE(m_messages[0].text.startsWith(QStringLiteral("통신에러 \n")));
  const QList<CImageWnd*> windows = m_dlg->findChildren<CImageWnd*>();
  ASSERT_EQ(windows.size(), 1);
  ASSERT_EQ(windows[0]->list()->lineCount(), 4096);
  // Zeroed buffers: pieces without a valid reply read as zero.
  EXPECT_EQ(windows[0]->list()->lineText(4095), DataLine(0x12fff0, std::vector<std::uint8_t>(16)));
}

TEST_F(TransferTest, ControlsOfThePortAndTheListAreHeldWhileAWorkerRuns) {
  devsim::DeviceOptions options = PatternedDevice();
  options.paced = true;  // the read-back takes a while
  StartWithDevice(options);
  Check(IDC_CHECK_PARAMETER);
  const int held[] = {IDC_DOWNLOAD_BINARY, IDC_UPLOAD,     IDC_UPLOAD_LOG,
                      IDC_CLEAR,           IDC_LOAD_IMAGE, IDC_SAVE};
  Press(IDC_UPLOAD);
  ASSERT_TRUE(m_dlg->workerRunning());
  for (int id : held) {
    EXPECT_FALSE(m_dlg->control(id)->isEnabled()) << id;
  }
  EXPECT_TRUE(m_dlg->control(IDC_BUTTON7)->isEnabled());
  EXPECT_TRUE(m_dlg->control(IDC_COM_PORT)->isEnabled());
  // Drops and the handlers themselves are refused.
  Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
  m_dlg->OnClear();
  m_dlg->OnDownloadBinary();
  EXPECT_FALSE(m_dlg->checkBox(IDC_CHECK_BOOT)->isChecked());
  m_dlg->WaitForWorker();
  for (int id : held) {
    EXPECT_TRUE(m_dlg->control(id)->isEnabled()) << id;
  }
  EXPECT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x13C000});
  EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Uploaded \n\nblock 13c000")});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the wait cursor is gone
}

// The transfers show the wait cursor while they run; "load image" does not.
TEST_F(TransferTest, WaitCursorWhileATransferRunsButNotForLoadImage) {
  struct Case {
    const char* name;
    int button;
    bool waitCursor;
  };
  const Case cases[] = {
      {"upload", IDC_UPLOAD, true},
      {"upload log", IDC_UPLOAD_LOG, true},
      {"load image", IDC_LOAD_IMAGE, false},
  };
  StartWithDevice();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Every one of them ends with a box while its worker still runs: look at the cursor then.
    std::vector<bool> waiting;
    ui::SetMessageHook([&](const ui::MessageRequest&) {
      const QCursor* cursor = QApplication::overrideCursor();
      waiting.push_back(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
    });
    PressAndWait(c.button);
    EXPECT_EQ(waiting, std::vector<bool>{c.waitCursor});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
}

}  // namespace
}  // namespace vantor::pelion::testing
