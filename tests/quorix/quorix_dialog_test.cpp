// The dialog's start-up, its link to the device and the download, against the simulated device.
#include "device/memory_map.h"
#include "quorix_fixture.h"
#include "support/about_box_check.h"
#include "ui/dialog_units.h"

#include <QTimer>

#include <chrono>

#ifdef _WIN32
#include "support/system_menu_check_win32.h"
#endif

namespace vantor::quorix::testing {
namespace {

using vantor::testing::ReadFileBytes;

const QString kConnected = QString::fromUtf8("연결되었습니다.\r\n");

TEST_F(QuorixTest, StartsOfflineWithCodeAreaAndTemplateLayout) {
  StartDevice({});
  OpenDialog();
  CQuorixDlg& d = *m_dialog;
  EXPECT_EQ(d.windowTitle(), QString("DOWNLOAD 1.0"));
  EXPECT_EQ(d.areaCombo()->currentText(), QString("CODE"));
  EXPECT_EQ(d.areaCombo()->count(), 4);
  EXPECT_EQ(d.areaCombo()->itemText(3), QString("PARAMETER"));
  EXPECT_EQ(d.areaField()->text(), QString("0x008000(98304)"));
  EXPECT_EQ(d.downloadFlags(), 0x3C690000u);
  EXPECT_EQ(d.portCombo()->currentIndex(), -1);
  EXPECT_EQ(d.portCombo()->placeholderText(), QString("select comport"));
  EXPECT_EQ(d.areaCombo()->placeholderText(), QString("select area"));
  EXPECT_GE(d.portCombo()->findText(QString::fromStdString(m_device->path())), 0);
  EXPECT_EQ(d.linkToggle()->text(), QString("offline"));
  EXPECT_FALSE(d.linkToggle()->isEnabled());
  EXPECT_EQ(d.statusLine()->text(), QString("no device"));
  EXPECT_EQ(d.progressBar()->value(), 0);
  EXPECT_TRUE(d.logPane()->text().isEmpty());
  EXPECT_TRUE(d.infoPane()->text().isEmpty());
  EXPECT_EQ(d.bootVersion(), kNoBootVersion);
  EXPECT_EQ(d.port(), nullptr);
  EXPECT_TRUE(d.segments().empty());
  EXPECT_FALSE(d.infoPane()->isEnabled());
  EXPECT_FALSE(d.pathField()->isEnabled());

  // Template positions in dialog units, through the dialog font.
  const QFont font = ui::DialogFont();
  EXPECT_EQ(d.size(), ui::DialogUnitsToPixels(font, 0, 0, 242, 138).size());
  EXPECT_EQ(d.downloadButton()->geometry(), ui::DialogUnitsToPixels(font, 157, 18, 78, 23));
  EXPECT_EQ(d.logPane()->geometry(), ui::DialogUnitsToPixels(font, 7, 100, 228, 31));
  EXPECT_EQ(d.linkToggle()->geometry(), ui::DialogUnitsToPixels(font, 87, 7, 31, 12));
  EXPECT_EQ(d.portCombo()->pos(), ui::DialogUnitsToPixels(font, 7, 7, 76, 30).topLeft());
  // The opened lists take the rest of their template heights (30 and 54 units).
  EXPECT_EQ(d.portCombo()->listHeight(),
            ui::DialogUnitsToPixels(font, 7, 7, 76, 30).height() - d.portCombo()->height());
  EXPECT_EQ(d.areaCombo()->listHeight(),
            ui::DialogUnitsToPixels(font, 158, 59, 77, 54).height() - d.areaCombo()->height());
  // The link toggle is a flat button; icon 128 is the window's icon.
  EXPECT_TRUE(d.linkToggle()->isFlat());
  EXPECT_FALSE(d.windowIcon().isNull());
  EXPECT_EQ(d.windowIcon().pixmap(32, 32).toImage(), QuorixIcon().pixmap(32, 32).toImage());
}

TEST_F(QuorixTest, SelectingAPortEnablesTheToggleAndOpensNothing) {
  StartDevice({});
  OpenDialog();
  SelectPort(m_device->path());
  EXPECT_TRUE(m_dialog->linkToggle()->isEnabled());
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("no device"));
  m_device->With([](devsim::Device& d) { EXPECT_TRUE(d.received().empty()); });
}

TEST_F(QuorixTest, DroppingDownTheListReReadsPortsAndLosesTheSelection) {
  StartDevice({});
  OpenDialog();
  SelectPort(m_device->path());
  serial::AddVirtualPort("/dev/quorix-test-extra");
  m_dialog->portCombo()->showPopup();
  m_dialog->portCombo()->hidePopup();
  serial::RemoveVirtualPort("/dev/quorix-test-extra");
  EXPECT_EQ(m_dialog->portCombo()->currentIndex(), -1);
  EXPECT_GE(m_dialog->portCombo()->findText("/dev/quorix-test-extra"), 0);
  EXPECT_TRUE(m_dialog->linkToggle()->isEnabled());  // the toggle keeps its state
}

struct BootVersionCase {
  std::uint32_t word;
  const char* text;
};

TEST_F(QuorixTest, BootloaderOnlineShowsItsVersionFromTheLowFourBitsOfEachByte) {
  for (const BootVersionCase& c : {BootVersionCase{0x01020304, "boot v1.2.3.4"},
                                   BootVersionCase{0x1F1F1F1F, "boot v15.15.15.15"}}) {
    SCOPED_TRACE(c.text);
    devsim::DeviceOptions options;
    options.bootVersion = c.word;
    StartDevice(options);
    OpenDialog();
    GoOnline();
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_dialog->statusLine()->text(), QString(c.text));
    EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
    EXPECT_EQ(m_dialog->bootVersion(), c.word);
    EXPECT_EQ(m_dialog->logPane()->text(), kConnected);
    ASSERT_NE(m_dialog->port(), nullptr);
    EXPECT_TRUE(m_dialog->port()->IsOpen());
    m_dialog.reset();
    serial::RemoveVirtualPort(m_device->path());
    m_device.reset();
  }
}

TEST_F(QuorixTest, GoingOfflineClosesThePortAndLogs) {
  StartDevice({});
  OpenDialog();
  GoOnline();
  Click(m_dialog->linkToggle());
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("offline"));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("no device"));
  EXPECT_EQ(m_dialog->bootVersion(), kNoBootVersion);
  EXPECT_EQ(m_dialog->logPane()->text(),
            kConnected + QString::fromUtf8("연결 해제되었습니다.\r\n"));
}

TEST_F(QuorixTest, NothingAnsweringLeavesTheLinkOffline) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.answerFirmwareVersion = false;
  StartDevice(options);
  OpenDialog();
  GoOnline();
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8(device::kNoAnswerText));
  EXPECT_EQ(m_icons[0], ui::MessageIcon::kInformation);
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("offline"));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("no device"));
  EXPECT_TRUE(m_dialog->logPane()->text().isEmpty());
}

TEST_F(QuorixTest, ToggleWithTheSelectedPortGoneRelistsInsteadOfConnecting) {
  StartDevice({});
  OpenDialog();
  SelectPort(m_device->path());
  serial::RemoveVirtualPort(m_device->path());
  Click(m_dialog->linkToggle());
  m_dialog->portCombo()->hidePopup();
  EXPECT_TRUE(m_messages.empty());
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("offline"));
  EXPECT_EQ(m_dialog->portCombo()->findText(QString::fromStdString(m_device->path())), -1);
  m_device->With([](devsim::Device& d) { EXPECT_TRUE(d.received().empty()); });
}

TEST_F(QuorixTest, DownloadWithoutAPortIsRefusedAndStartsNothing) {
  StartDevice({});
  OpenDialog();
  Click(m_dialog->downloadButton());
  EXPECT_FALSE(m_dialog->downloading());
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8(device::kCheckDeviceText));
  m_device->With([](devsim::Device& d) { EXPECT_TRUE(d.received().empty()); });
}

TEST_F(QuorixTest, FirmwareOnlineShowsItsVersionAndDownloadEntersTheBootloaderFirst) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.firmwareVersion = "fw 2.7";
  StartDevice(options);
  OpenDialog();
  GoOnline();
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("fw 2.7\r\n"));
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
  EXPECT_EQ(m_dialog->bootVersion(), kNoBootVersion);
  EXPECT_EQ(m_dialog->logPane()->text(), kConnected);

  ClearEvents();
  Download();
  EXPECT_TRUE(m_messages.empty()) << m_messages.front().toStdString();
  const auto events = Events();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0].kind, devsim::DeviceEvent::Kind::kTextCommand);
  EXPECT_EQ(events[0].text, "~dboot");
  EXPECT_EQ(events[1].kind, devsim::DeviceEvent::Kind::kVersionQuery);
  EXPECT_EQ(events[2].kind, devsim::DeviceEvent::Kind::kOpenSession);
  EXPECT_EQ(m_dialog->bootVersion(), 0x01020304u);
}

TEST_F(QuorixTest, UnansweredBootCommandStillWaitsAndAsksTheBootloader) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.bootCommandReply = devsim::BootCommandReply::kSilent;
  StartDevice(options);
  OpenDialog();
  GoOnline();
  ClearEvents();
  Download();
  EXPECT_TRUE(m_messages.empty());
  const auto events = Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0].text, "~dboot");
  EXPECT_EQ(events[1].kind, devsim::DeviceEvent::Kind::kVersionQuery);
  EXPECT_EQ(m_dialog->bootVersion(), 0x01020304u);
}

TEST_F(QuorixTest, RefusedBootCommandClosesThePortAndKeepsTheCaptions) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.bootCommandReply = devsim::BootCommandReply::kRefuse;
  StartDevice(options);
  OpenDialog();
  GoOnline();
  Download();
  EXPECT_FALSE(m_dialog->downloading());
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8("장비 연결 상태를 확인하세요. \n"));
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("1.2\r\n"));
  // Closed after refusal: DOWNLOAD again is refused without touching a port.
  Click(m_dialog->downloadButton());
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_EQ(m_messages[1], QString::fromUtf8(device::kCheckDeviceText));
}

TEST_F(QuorixTest, SilentBootloaderAfterBootCommandKeepsTheReopenedPort) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.bootCommandRestarts = false;  // stays in the firmware: no version answer comes
  StartDevice(options);
  OpenDialog();
  GoOnline();
  Download();
  EXPECT_FALSE(m_dialog->downloading());
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8(device::kNoAnswerText));
  ASSERT_NE(m_dialog->port(), nullptr);
  EXPECT_TRUE(m_dialog->port()->IsOpen());
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
}

TEST_F(QuorixTest, SuccessfulDownloadWritesTheFileAndDetectsTheDeviceAgain) {
  StartDevice({});
  OpenDialog();
  const auto file = MakeFile("code.bin", 5000);
  m_dialog->LoadBinaryFile(QString::fromStdString(file.string()));
  GoOnline();
  ClearEvents();
  Download();
  EXPECT_TRUE(m_messages.empty());
  EXPECT_EQ(m_dialog->logPane()->text(),
            kConnected + QString::fromUtf8("다운로드가 완료되었습니다. 잠시 기다리십시요...\r\n"
                                           "완료되었습니다.\r\n"));
  EXPECT_EQ(m_dialog->progressBar()->value(), 100);
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("boot v1.2.3.4"));
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
  const auto expected = ReadFileBytes(file);
  m_device->With([&](devsim::Device& d) {
    EXPECT_EQ(d.ReadMemory(0x108000, expected.size()), expected);
    EXPECT_EQ(d.lastDownloadFlags(), std::optional<std::uint32_t>(0x3C690000));
  });
  // With the bootloader running no text command went out; the session came first.
  const auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].kind, devsim::DeviceEvent::Kind::kOpenSession);
  for (const auto& e : events)
    EXPECT_NE(e.kind, devsim::DeviceEvent::Kind::kTextCommand) << e.text;
}

TEST_F(QuorixTest, EmptyListDownloadsOnlyTheOpeningCommandAndCompletes) {
  StartDevice({});
  OpenDialog();
  GoOnline();
  ClearEvents();
  Download();
  EXPECT_TRUE(m_messages.empty());
  EXPECT_TRUE(m_dialog->logPane()->text().endsWith(QString::fromUtf8("완료되었습니다.\r\n")));
  const auto events = Events();
  ASSERT_GE(events.size(), 1u);
  EXPECT_EQ(events[0].kind, devsim::DeviceEvent::Kind::kOpenSession);
  for (const auto& e : events)
    EXPECT_NE(e.kind, devsim::DeviceEvent::Kind::kStartSegment);
}

TEST_F(QuorixTest, RefusedFrameShowsTheCodeAndLeavesTheLinkWithControlsBackAfterwards) {
  devsim::DeviceOptions options;
  options.refuseSegment = 0;
  options.refuseFrame = 1;
  options.refuseStatus = 2;
  StartDevice(options);
  OpenDialog();
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code.bin", 2000).string()));
  GoOnline();
  // While the worker shows its box it is still running: every transfer control is disabled
  // and drops are refused.
  std::vector<bool> enabledDuringBox;
  std::size_t segmentsAfterDrop = 0;
  const auto other = MakeFile("other.bin", 100);
  m_onMessage = [&] {
    CQuorixDlg& d = *m_dialog;
    EXPECT_TRUE(d.downloading());
    enabledDuringBox = {d.downloadButton()->isEnabled(), d.linkToggle()->isEnabled(),
                        d.loadButton()->isEnabled(), d.areaCombo()->isEnabled(),
                        d.portCombo()->isEnabled()};
    Drop({other}, CentreOf(d.pathField()));
    segmentsAfterDrop = d.segments().size();
    Click(d.downloadButton());  // disabled: no second session
  };
  Download();
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8("통신에러 \n-9978"));
  EXPECT_EQ(m_icons[0], ui::MessageIcon::kInformation);
  EXPECT_EQ(enabledDuringBox, std::vector<bool>(5, false));
  EXPECT_EQ(segmentsAfterDrop, 1u);
  EXPECT_NE(m_dialog->pathField()->text().toStdString(), other.string());
  // The link is as it was, and the controls are back.
  ASSERT_NE(m_dialog->port(), nullptr);
  EXPECT_TRUE(m_dialog->port()->IsOpen());
  EXPECT_EQ(m_dialog->bootVersion(), 0x01020304u);
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("boot v1.2.3.4"));
  EXPECT_EQ(m_dialog->logPane()->text(), kConnected);
  for (QWidget* w : std::initializer_list<QWidget*>{m_dialog->downloadButton(),
                                                    m_dialog->linkToggle(), m_dialog->loadButton(),
                                                    m_dialog->areaCombo(), m_dialog->portCombo()}) {
    EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();
  }
  EXPECT_EQ(g_busyCount, 0);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  // DOWNLOAD again at once sends the same segment again.
  m_onMessage = {};
  m_device->With([](devsim::Device& d) { d.options().refuseSegment = -1; });
  Download();
  EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(QuorixTest, AboutBoxOpensFromTheMenuItem) {
  OpenDialog();
  const vantor::testing::ShownAboutBox about =
      vantor::testing::ReadAboutBox([&] { m_dialog->OnSysCommand(0x10); });
  ASSERT_TRUE(about.shown);
  EXPECT_EQ(about.title, QString::fromUtf8("Quorix 정보"));
  EXPECT_TRUE(about.texts.contains(QString::fromUtf8("Quorix, 버전 1.0")));
  EXPECT_TRUE(about.texts.contains(QString::fromUtf8("Copyright (C) 2024")));
  EXPECT_TRUE(about.texts.contains(QString::fromUtf8("확인")));
  EXPECT_TRUE(about.images.contains(QuorixIcon().pixmap(32, 32).toImage()));  // icon 128
}

// Enter presses the push button that has the focus, as a dialog does: at start-up that is
// DOWNLOAD (offline, so it is refused with its message), and the dialog stays open.
TEST_F(QuorixTest, EnterAtStartUpPressesTheFocusedButtonAndKeepsTheDialog) {
  OpenDialog();
  QApplication::setActiveWindow(m_dialog.get());
  QWidget* focus = QApplication::focusWidget();
  ASSERT_EQ(focus, m_dialog->downloadButton());
  QTest::keyClick(focus, Qt::Key_Return);
  EXPECT_TRUE(m_dialog->isVisible());
  EXPECT_EQ(m_dialog->result(), 0);
  EXPECT_EQ(m_messages, std::vector<QString>{QString::fromUtf8(device::kCheckDeviceText)});

  // With the focus on no push button, Enter ends the dialog.
  m_messages.clear();
  m_dialog->areaCombo()->setFocus();
  QTest::keyClick(m_dialog->areaCombo(), Qt::Key_Return);
  EXPECT_FALSE(m_dialog->isVisible());
  EXPECT_TRUE(m_messages.empty());
}

// Enter while a download runs: the button pressed to start it is disabled meanwhile, so Enter
// presses nothing; the download is not cancelled and completes.
TEST_F(QuorixTest, EnterDuringADownloadNeitherClosesNorCancels) {
  devsim::DeviceOptions options;
  options.paced = true;
  StartOnline(options);
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code.bin", 20000).string()));
  QApplication::setActiveWindow(m_dialog.get());
  m_dialog->downloadButton()->setFocus();
  Click(m_dialog->downloadButton());
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (m_dialog->progressBar()->value() < 10 && std::chrono::steady_clock::now() < end)
    QTest::qWait(5);
  ASSERT_TRUE(m_dialog->downloading());
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : m_dialog.get();
  QTest::keyClick(target, Qt::Key_Return);
  QTest::keyClick(m_dialog.get(), Qt::Key_Enter);
  EXPECT_TRUE(m_dialog->isVisible());
  EXPECT_TRUE(m_dialog->downloading());
  m_dialog->WaitForWorker();
  EXPECT_TRUE(m_dialog->isVisible());
  EXPECT_EQ(m_dialog->progressBar()->value(), 100);
  EXPECT_TRUE(
      m_dialog->logPane()->text().contains(QString::fromUtf8(device::kFinishedLog).trimmed()));
  EXPECT_TRUE(m_messages.empty());
}

#ifdef _WIN32
// The about item is the system menu's last entry, after a separator, and its command opens the
// about box; the other system commands go on as usual.
TEST_F(QuorixTest, AboutItemInTheSystemMenu) {
  OpenDialog();
  vantor::testing::ExpectAboutItemInSystemMenu(m_dialog.get(), 0x10u,
                                               QString::fromUtf8("Quorix 정보(&A)..."),
                                               QString::fromUtf8("Quorix 정보"));
}
#endif

}  // namespace
}  // namespace vantor::quorix::testing
