// Closing the dialog while a transfer runs against the paced device: the close box, Escape and
// Enter each cancel the worker; the dialog is gone within a second, no box appears afterwards,
// nothing unread is kept, the port opens again at once, and a second close changes nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

#include "device/files.h"
#include "pelion/image_wnd.h"
#include "pelion/slots.h"
#include "pelion_fixture.h"
#include "serial/port_enumeration.h"

namespace vantor::pelion::testing {
namespace {

using vantor::testing::PatternBytes;

enum class Closing { kCloseBox, kEscape, kEnter, kEscapeTwice, kCloseThenEscape };

class ClosingTest : public PelionTest {
 protected:
  void Close(Closing how) {
    // The second key press is queued first, so it arrives while the first close is under way.
    auto queueEscape = [this] {
      QCoreApplication::postEvent(m_dlg.get(),
                                  new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    };
    switch (how) {
      case Closing::kCloseBox:
        m_dlg->close();
        break;
      case Closing::kEscape:
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        break;
      case Closing::kEnter:
        m_dlg->hexView()->setFocus();
        QTest::keyClick(m_dlg->hexView(), Qt::Key_Return);
        break;
      case Closing::kEscapeTwice:
        queueEscape();
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        break;
      case Closing::kCloseThenEscape:
        queueEscape();
        m_dlg->close();
        break;
    }
  }
};

TEST_F(ClosingTest, ClosingDuringATransferCancelsItAtOnce) {
  struct Transfer {
    const char* name;
    int button;
  };
  const Transfer transfers[] = {
      {"download", IDC_DOWNLOAD_BINARY},
      {"upload", IDC_UPLOAD},
      {"upload log", IDC_UPLOAD_LOG},
  };
  struct Way {
    const char* name;
    Closing how;
  };
  const Way ways[] = {{"close box", Closing::kCloseBox},
                      {"Escape", Closing::kEscape},
                      {"Enter", Closing::kEnter},
                      {"Escape twice", Closing::kEscapeTwice},
                      {"close, then Escape", Closing::kCloseThenEscape}};
  for (const Transfer& transfer : transfers) {
    for (const Way& way : ways) {
      SCOPED_TRACE(std::string(transfer.name) + ", " + way.name);
      TearDown();
      SetUp();
      m_messages.clear();
      std::filesystem::remove_all(device::DocumentsFolder());
      devsim::DeviceOptions options;
      options.paced = true;  // every transfer takes seconds
      StartWithDevice(options);
      Drop(IDC_PATH_FIRMWARE, {WriteImage("fw.bin", PatternBytes(0x38000, 1))});
      m_dlg->checkBox(IDC_CHECK_BINARY)->setChecked(true);
      Press(transfer.button);
      ASSERT_TRUE(m_dlg->workerRunning());
      ASSERT_TRUE(QTest::qWaitFor([&] { return m_dlg->progress()->value() > 0; }, 10000));

      QElapsedTimer clock;
      clock.start();
      Close(way.how);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dlg->isVisible(); }, 3000));
      EXPECT_LT(clock.elapsed(), 1000);
      EXPECT_FALSE(m_dlg->workerRunning());
      EXPECT_EQ(m_dlg->result(),
                way.how == Closing::kEnter ? QDialog::Accepted : QDialog::Rejected);

      // The port is free at once.
      EXPECT_TRUE(serial::CreatePort(m_device->path(), /*trace=*/false)->IsOpen());
      // No box, then or a little later; nothing half-read kept or saved; no listing in a log
      // window that the user no longer waits for.
      QTest::qWait(200);
      EXPECT_TRUE(m_messages.empty()) << m_messages.front().text.toStdString();
      if (transfer.button == IDC_UPLOAD) {
        EXPECT_TRUE(m_dlg->segments().empty());
      }
      EXPECT_FALSE(std::filesystem::exists(device::DocumentsFolder()) &&
                   !std::filesystem::is_empty(device::DocumentsFolder()));
      for (CImageWnd* window : m_dlg->findChildren<CImageWnd*>()) {
        EXPECT_EQ(window->list()->lineCount(), 0);
      }
    }
  }
}

// Closing with no worker, and closing again after it, is harmless.
TEST_F(ClosingTest, ClosingTwiceWithoutAWorker) {
  StartWithoutDevice();
  m_dlg->close();
  EXPECT_FALSE(m_dlg->isVisible());
  QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
  m_dlg->close();
  EXPECT_FALSE(m_dlg->isVisible());
  EXPECT_TRUE(m_messages.empty());
}

}  // namespace
}  // namespace vantor::pelion::testing
