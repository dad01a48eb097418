// The link's edges against the simulated device: a port that does not open, the reopen bound, the
// version query asked twice, what a re-detection after a download finds, the toggle after a
// refusal, the wait cursor and the progress bar while the worker runs, and the port list.
#include <QDir>
#include <QTimer>

#include <chrono>
#include <filesystem>

#include "quorix_fixture.h"

namespace vantor::quorix::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

QString Line(const char* text) {
  return QString::fromUtf8(text).trimmed() + "\r\n";
}

TEST_F(QuorixTest, PortThatDoesNotOpenLeavesTheLinkOfflineWithTheMessage) {
  const std::string missing = "/dev/quorix-test-no-such-port";
  serial::AddVirtualPort(missing);
  OpenDialog();
  SelectPort(missing);
  Click(m_dialog->linkToggle());
  m_dialog->WaitForWorker();
  serial::RemoveVirtualPort(missing);
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8(device::kNoAnswerText));
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("offline"));
  EXPECT_TRUE(m_dialog->linkToggle()->isEnabled());  // a port is still selected
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("no device"));
  EXPECT_TRUE(m_dialog->logPane()->text().isEmpty());
}

TEST_F(QuorixTest, ReopenGivesUpAfterItsBoundWhenThePortHasGone) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.firmwareVersion = "fw 2.7";
  StartDevice(options);
  // The port is reached through a link of the test's own: once the link is gone no other
  // pseudo-terminal can take its name (tests running at the same time reuse pty numbers).
  const std::string link = (m_dir / "reopen-link").string();
  std::filesystem::create_symlink(m_device->path(), link);
  serial::AddVirtualPort(link);
  OpenDialog();
  SelectPort(link);
  Click(m_dialog->linkToggle());
  m_dialog->WaitForWorker();
  ASSERT_NE(m_dialog->port(), nullptr);
  ui::SetWaitScaleForTests(0.3);  // the bootloader wait: 900 ms
  Click(m_dialog->downloadButton());
  // The device goes away during the wait after "~dboot": its port cannot be opened again.
  bool sent = false;
  while (!sent) {
    QTest::qWait(5);
    for (const devsim::DeviceEvent& e : Events())
      sent = sent || e.text == "~dboot";
  }
  const auto start = Clock::now();
  serial::RemoveVirtualPort(link);
  std::filesystem::remove(link);
  m_device.reset();
  m_dialog->WaitForWorker();
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 5000ms);
  EXPECT_LT(took, 5000ms + 900ms + 1500ms);
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8(device::kNoAnswerText));
  EXPECT_EQ(m_dialog->bootVersion(), kNoBootVersion);
  EXPECT_EQ(g_busyCount, 0);
}

TEST_F(QuorixTest, RedetectionFindingNothingAsksTheVersionTwiceThenTheFirmwareAndGoesOffline) {
  StartDevice({});
  OpenDialog();
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code.bin", 2000).string()));
  GoOnline();
  // The download needs no version query; after it nothing answers any more.
  m_device->With([](devsim::Device& d) {
    d.options().answerBootVersion = false;
    d.ClearEvents();
  });
  Download();
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], QString::fromUtf8(device::kNoAnswerText));
  std::vector<std::string> after;  // what came after the end frame
  bool ended = false;
  for (const devsim::DeviceEvent& e : Events()) {
    if (ended)
      after.push_back(e.kind == devsim::DeviceEvent::Kind::kVersionQuery ? "version" : e.text);
    ended = ended || e.kind == devsim::DeviceEvent::Kind::kEndFrame;
  }
  EXPECT_EQ(after, (std::vector<std::string>{"version", "version", "~rv"}));
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("offline"));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("no device"));
  EXPECT_TRUE(m_dialog->logPane()->text().endsWith(Line(device::kDownloadDoneLog) +
                                                   Line(device::kFinishedLog)));
}

TEST_F(QuorixTest, RedetectionFindingTheNewFirmwareShowsItsVersionAndStaysOnline) {
  devsim::DeviceOptions options;
  options.bootFirmwareAfterDownload = true;
  options.firmwareVersion = "2.0";
  StartDevice(options);
  OpenDialog();
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code.bin", 2000).string()));
  GoOnline();
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("boot v1.2.3.4"));
  ClearEvents();
  Download();
  EXPECT_TRUE(m_messages.empty()) << m_messages.front().toStdString();
  // After the end frame the running firmware hears "~rv" (it ignores the version queries).
  std::vector<std::string> after;
  bool ended = false;
  for (const devsim::DeviceEvent& e : Events()) {
    if (ended)
      after.push_back(e.text);
    ended = ended || e.kind == devsim::DeviceEvent::Kind::kEndFrame;
  }
  EXPECT_EQ(after, (std::vector<std::string>{"~rv"}));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("2.0\r\n"));
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
  EXPECT_EQ(m_dialog->bootVersion(), kNoBootVersion);
  ASSERT_NE(m_dialog->port(), nullptr);
  EXPECT_TRUE(m_dialog->port()->IsOpen());
  EXPECT_TRUE(m_dialog->logPane()->text().endsWith(Line(device::kDownloadDoneLog) +
                                                   Line(device::kFinishedLog)));
}

TEST_F(QuorixTest, ToggleAfterARefusalGoesOfflineAndThenOnlineAgain) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.bootCommandReply = devsim::BootCommandReply::kRefuse;
  StartOnline(options);
  Download();
  ASSERT_EQ(m_dialog->port(), nullptr);  // closed after the refusal, the toggle still "online"
  ASSERT_EQ(m_dialog->linkToggle()->text(), QString("online"));

  Click(m_dialog->linkToggle());
  EXPECT_FALSE(m_dialog->downloading());
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("offline"));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("no device"));
  EXPECT_TRUE(m_dialog->logPane()->text().endsWith(Line(device::kDisconnectedLog)));

  Click(m_dialog->linkToggle());
  m_dialog->WaitForWorker();
  EXPECT_EQ(m_dialog->linkToggle()->text(), QString("online"));
  EXPECT_EQ(m_dialog->statusLine()->text(), QString("1.2\r\n"));
  ASSERT_NE(m_dialog->port(), nullptr);
  EXPECT_TRUE(m_dialog->port()->IsOpen());
}

TEST_F(QuorixTest, WaitCursorAndProgressWhileTheBootloaderWaitAndTheDownloadRun) {
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.paced = true;
  StartDevice(options);
  OpenDialog();
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code.bin", 20000).string()));
  GoOnline();
  ui::SetWaitScaleForTests(0.2);  // 600 ms and 1400 ms
  struct Sample {
    int busy;
    bool waitCursor;
    int progress;
  };
  std::vector<Sample> samples;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    samples.push_back({g_busyCount, cursor != nullptr && cursor->shape() == Qt::WaitCursor,
                       m_dialog->progressBar()->value()});
  });
  sampler.start(10);
  Download();
  sampler.stop();
  ASSERT_TRUE(m_messages.empty()) << m_messages.front().toStdString();

  int busySamples = 0;
  int partway = 0;
  int last = 0;
  for (const Sample& s : samples) {
    if (s.busy > 0) {
      ++busySamples;
      EXPECT_TRUE(s.waitCursor);
    }
    EXPECT_GE(s.progress, 0);
    EXPECT_LE(s.progress, 100);
    EXPECT_GE(s.progress, last);  // never backwards
    last = s.progress;
    if (s.progress > 0 && s.progress < 100) {
      ++partway;
      EXPECT_TRUE(s.waitCursor);
    }
  }
  // Busy through the 600 ms bootloader wait and the download of about 2 s.
  EXPECT_GT(busySamples, 100);
  EXPECT_GT(partway, 10);
  EXPECT_EQ(m_dialog->progressBar()->value(), 100);
  EXPECT_EQ(g_busyCount, 0);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(QuorixTest, PortListSortsAsTextAndAnEmptyListKeepsTheToggleDisabled) {
  for (const char* name : {"COM2", "COM10", "COM1"})
    serial::AddVirtualPort(name);
  OpenDialog();
  const QComboBox* combo = m_dialog->portCombo();
  const int com1 = combo->findText("COM1");
  const int com10 = combo->findText("COM10");
  const int com2 = combo->findText("COM2");
  ASSERT_GE(com1, 0);
  EXPECT_LT(com1, com10);
  EXPECT_LT(com10, com2);
  for (const char* name : {"COM2", "COM10", "COM1"})
    serial::RemoveVirtualPort(name);

  if (!serial::EnumerateComPorts().empty())
    GTEST_SKIP() << "this machine has serial ports: the empty list cannot be shown";
  m_dialog->portCombo()->showPopup();
  m_dialog->portCombo()->hidePopup();
  EXPECT_EQ(m_dialog->portCombo()->count(), 0);
  EXPECT_EQ(m_dialog->portCombo()->currentIndex(), -1);
  EXPECT_FALSE(m_dialog->linkToggle()->isEnabled());
  Click(m_dialog->linkToggle());
  EXPECT_EQ(m_dialog->port(), nullptr);
  EXPECT_TRUE(m_messages.empty());
}

}  // namespace
}  // namespace vantor::quorix::testing
