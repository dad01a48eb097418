// Closing the dialog while its worker talks to the paced simulated device, at every phase: the
// dialog is gone within a second, no box appears, and the port opens again at once.
#include <QTimer>

#include <chrono>
#include <functional>

#include "quorix_fixture.h"

namespace vantor::quorix::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

enum class Phase { kDetection, kBootloaderWait, kDownload, kAfterDownloadWait, kRedetection };
enum class Close { kEscape, kCloseBox, kEscapeTwice, kCloseThenEscape };

struct CloseCase {
  const char* name;
  Phase phase;
  Close close;
};

class QuorixClosingTest : public QuorixTest, public ::testing::WithParamInterface<CloseCase> {
 protected:
  // Serves the UI thread's events until `reached` holds; false after 20 s.
  static bool RunUntil(const std::function<bool()>& reached) {
    const auto end = Clock::now() + 20s;
    while (!reached()) {
      if (Clock::now() > end)
        return false;
      QTest::qWait(5);
    }
    return true;
  }

  bool Seen(devsim::DeviceEvent::Kind kind, const char* text = nullptr) {
    for (const devsim::DeviceEvent& e : Events()) {
      if (e.kind == kind && (text == nullptr || e.text == text))
        return true;
    }
    return false;
  }

  // The pane ends its lines with CR LF: the line is looked for without its end.
  bool Logged(const char* text) {
    return m_dialog->logPane()->text().contains(QString::fromUtf8(text).trimmed());
  }

  bool Received() {
    bool any = false;
    m_device->With([&](devsim::Device& d) { any = !d.received().empty(); });
    return any;
  }

  void CloseAs(Close how) {
    QDialog* d = m_dialog.get();
    switch (how) {
      case Close::kEscape:
        QTest::keyClick(d, Qt::Key_Escape);
        break;
      case Close::kCloseBox:
        d->close();
        break;
      case Close::kEscapeTwice:
        // The second Escape arrives while the first close still waits for the worker.
        QTimer::singleShot(0, d, [d] { QTest::keyClick(d, Qt::Key_Escape); });
        QTest::keyClick(d, Qt::Key_Escape);
        break;
      case Close::kCloseThenEscape:
        d->close();
        QTest::keyClick(d, Qt::Key_Escape);
        break;
    }
  }
};

TEST_P(QuorixClosingTest, GoneWithinASecondWithoutABoxAndThePortFree) {
  const CloseCase& c = GetParam();
  devsim::DeviceOptions options;
  options.paced = true;
  std::size_t fileSize = 2000;
  switch (c.phase) {
    case Phase::kDetection:  // nothing answers: each version query waits its whole time
      options.state = devsim::DeviceState::kFirmware;
      options.answerFirmwareVersion = false;
      break;
    case Phase::kBootloaderWait:
      options.state = devsim::DeviceState::kFirmware;
      ui::SetWaitScaleForTests(1.0);  // the whole 3000 ms
      break;
    case Phase::kDownload:
      fileSize = 98304;  // about 9 s on the paced line
      break;
    case Phase::kAfterDownloadWait:
      ui::SetWaitScaleForTests(1.0);  // the whole 7000 ms
      break;
    case Phase::kRedetection:
      break;
  }
  StartDevice(options);
  OpenDialog();
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code.bin", fileSize).string()));
  SelectPort(m_device->path());
  Click(m_dialog->linkToggle());
  if (c.phase != Phase::kDetection) {
    m_dialog->WaitForWorker();
    ASSERT_EQ(m_dialog->linkToggle()->text(), QString("online"));
    if (c.phase == Phase::kRedetection) {
      // The download needs no version query; the one after it then waits its whole time.
      m_device->With([](devsim::Device& d) { d.options().answerBootVersion = false; });
    }
    ClearEvents();
    Click(m_dialog->downloadButton());
  }
  bool reached = false;
  switch (c.phase) {
    case Phase::kDetection:
      reached = RunUntil([&] { return Received(); });
      break;
    case Phase::kBootloaderWait:
      reached = RunUntil([&] { return Seen(devsim::DeviceEvent::Kind::kTextCommand, "~dboot"); });
      break;
    case Phase::kDownload:
      reached = RunUntil([&] { return m_dialog->progressBar()->value() >= 10; });
      break;
    case Phase::kAfterDownloadWait:
      reached = RunUntil([&] { return Logged(device::kDownloadDoneLog); });
      break;
    case Phase::kRedetection:
      reached = RunUntil([&] {
        return Seen(devsim::DeviceEvent::Kind::kEndFrame) &&
               Seen(devsim::DeviceEvent::Kind::kVersionQuery);
      });
      break;
  }
  ASSERT_TRUE(reached);
  ASSERT_TRUE(m_dialog->downloading());  // the worker is still at it

  const auto start = Clock::now();
  CloseAs(c.close);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_FALSE(m_dialog->isVisible());
  EXPECT_FALSE(m_dialog->downloading());
  EXPECT_EQ(m_dialog->port(), nullptr);
  // Nothing turns up later either.
  QTest::qWait(200);
  EXPECT_TRUE(m_messages.empty()) << m_messages.front().toStdString();
  // The download never reported itself complete (its last line is not the closing one).
  EXPECT_FALSE(m_dialog->logPane()->text().endsWith(
      QString::fromUtf8("\n") + QString::fromUtf8(device::kFinishedLog).trimmed() + "\r\n"));
  EXPECT_TRUE(serial::CreatePort(m_device->path(), /*trace=*/false)->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    EveryPhase, QuorixClosingTest,
    ::testing::Values(CloseCase{"DetectionEscape", Phase::kDetection, Close::kEscape},
                      CloseCase{"BootloaderWaitCloseBox", Phase::kBootloaderWait, Close::kCloseBox},
                      CloseCase{"DownloadEscape", Phase::kDownload, Close::kEscape},
                      CloseCase{"DownloadEscapeTwice", Phase::kDownload, Close::kEscapeTwice},
                      CloseCase{"AfterDownloadWaitCloseThenEscape", Phase::kAfterDownloadWait,
                                Close::kCloseThenEscape},
                      CloseCase{"RedetectionEscapeTwice", Phase::kRedetection,
                                Close::kEscapeTwice}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantor::quorix::testing
