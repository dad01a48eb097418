// The main dialog's start: template layout and captions, fonts, the port list, the about item.
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "pelion/image_wnd.h"
#include "pelion/slots.h"
#include "pelion_fixture.h"
#include "serial/port_enumeration.h"
#include "support/about_box_check.h"
#include "ui/dialog_units.h"

#ifdef _WIN32
#include "support/system_menu_check_win32.h"
#endif

namespace vantor::pelion::testing {
namespace {

using vantor::testing::PatternBytes;

class DialogTest : public PelionTest {};

TEST_F(DialogTest, ControlsStandAtTheirTemplatePositions) {
  StartWithoutDevice();
  struct Case {
    int id;
    int x, y, w, h;
    const char* caption;  // null: no caption to check
  };
  const Case cases[] = {
      {IDC_HEX_VIEW, 7, 7, 242, 209, nullptr},
      {IDC_PROGRESS, 7, 242, 502, 9, nullptr},
      {IDC_DOWNLOAD_BINARY, 289, 157, 121, 58, "다운로드 바이너리"},
      {IDC_CHECK_OEM, 263, 61, 31, 8, "oem"},
      {IDC_CHECK_BOOT, 262, 34, 31, 8, "boot"},
      {IDC_CHECK_FIRMWARE, 262, 10, 44, 8, "firmware"},
      {IDC_CHECK_BINARY, 264, 113, 36, 8, "binary"},
      {IDC_CHECK_PARAMETER, 263, 87, 50, 8, "parameter"},
      {IDC_UPLOAD, 459, 194, 50, 14, "upload"},
      {IDC_SAVE, 459, 174, 50, 14, "save"},
      {IDC_PATH_FIRMWARE, 257, 19, 252, 12, nullptr},
      {IDC_PATH_BOOT, 257, 43, 252, 12, nullptr},
      {IDC_PATH_OEM, 257, 70, 252, 12, nullptr},
      {IDC_PATH_PARAMETER, 257, 96, 252, 12, nullptr},
      {IDC_PATH_BINARY, 257, 122, 252, 12, nullptr},
      {IDC_CLEAR, 459, 137, 50, 14, "clear"},
      {IDC_UPLOAD_LOG, 417, 219, 37, 14, "upload log"},
      {IDC_LOAD_IMAGE, 459, 156, 50, 14, "load image"},
      {IDC_BUTTON7, 325, 136, 50, 14, "Button7"},
  };
  const QFont font = ui::DialogFont();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    QWidget* control = m_dlg->control(c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), ui::DialogUnitsToPixels(font, c.x, c.y, c.w, c.h));
    if (c.caption != nullptr) {
      EXPECT_EQ(qobject_cast<QAbstractButton*>(control)->text(), QString::fromUtf8(c.caption));
    }
    EXPECT_TRUE(control->isEnabled());
  }
  // The combo keeps its template place (its height is the closed box's own).
  const QRect combo = ui::DialogUnitsToPixels(font, 461, 221, 48, 30);
  EXPECT_EQ(m_dlg->comPorts()->geometry().topLeft(), combo.topLeft());
  EXPECT_EQ(m_dlg->comPorts()->width(), combo.width());
  EXPECT_EQ(m_dlg->size(), ui::DialogUnitsToPixels(font, 0, 0, 517, 258).size());
  EXPECT_EQ(m_dlg->windowTitle(), QStringLiteral("Pelion"));

  bool labelFound = false;
  for (QLabel* label : m_dlg->findChildren<QLabel*>()) {
    if (label->text() == QStringLiteral("통신 포트")) {
      labelFound = true;
      EXPECT_EQ(label->geometry(), ui::DialogUnitsToPixels(font, 470, 210, 34, 8));
    }
  }
  EXPECT_TRUE(labelFound);

  // Slots start unchecked with empty, enabled fields; nothing in the list.
  for (const ImageSlot& slot : kImageSlots) {
    EXPECT_FALSE(m_dlg->checkBox(slot.checkBox)->isChecked());
    EXPECT_TRUE(m_dlg->pathField(slot.pathField)->text().isEmpty());
  }
  EXPECT_TRUE(m_dlg->segments().empty());
  EXPECT_EQ(m_dlg->downloadFlags(), 0u);
}

// Every path field has a border; 1020 to 1023 also a sunken static edge inside it. Read from the
// rendered pixels: the outer ring in the border colour, the next one in the edge's shadow.
TEST_F(DialogTest, PathFieldsDrawTheirBorderAndEdge) {
  StartWithoutDevice();
  struct Case {
    int id;
    bool staticEdge;
  };
  const Case cases[] = {{IDC_PATH_FIRMWARE, false},
                        {IDC_PATH_BOOT, true},
                        {IDC_PATH_OEM, true},
                        {IDC_PATH_PARAMETER, true},
                        {IDC_PATH_BINARY, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    PathField* field = m_dlg->pathField(c.id);
    const QImage image = field->grab().toImage();
    const int middle = image.height() / 2;
    const QRgb border = field->palette().color(QPalette::WindowText).rgb();
    EXPECT_EQ(image.pixel(0, middle), border);
    EXPECT_EQ(image.pixel(image.width() - 1, middle), border);
    EXPECT_EQ(image.pixel(image.width() / 2, image.height() - 1), border);
    const QRgb shadow = field->palette().color(QPalette::Dark).rgb();
    const QRgb light = field->palette().color(QPalette::Light).rgb();
    EXPECT_EQ(image.pixel(1, middle) == shadow, c.staticEdge);
    EXPECT_EQ(image.pixel(image.width() / 2, 1) == shadow, c.staticEdge);
    EXPECT_EQ(image.pixel(image.width() - 2, middle) == light, c.staticEdge);
  }
}

TEST_F(DialogTest, FontsAreBold) {
  StartWithoutDevice();
  const QFontInfo list(m_dlg->hexView()->font());
  EXPECT_TRUE(list.bold());
  // 14 px unless the lines would not fit whole; never shrunk to unreadable.
  EXPECT_LE(m_dlg->listFont().pixelSize(), 14);
  EXPECT_GE(m_dlg->listFont().pixelSize(), 9);
  // Fixed pitch by its glyphs (fontconfig does not flag every monospaced face as such).
  const QFontMetrics metrics(m_dlg->hexView()->font());
  EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiii")),
            metrics.horizontalAdvance(QStringLiteral("WW00")));
  EXPECT_TRUE(QFontInfo(m_dlg->button(IDC_DOWNLOAD_BINARY)->font()).bold());
  EXPECT_EQ(m_dlg->buttonFont().family(), m_dlg->font().family());
  EXPECT_FALSE(QFontInfo(m_dlg->button(IDC_UPLOAD)->font()).bold());
}

// Every line, address and all 16 bytes, is visible whole at the template size: measured by the
// view's own item delegate against its viewport, over every line of a full listing of all bytes.
TEST_F(DialogTest, EveryListingLineFitsItsViewWhole) {
  StartWithoutDevice();
  auto* log = new CImageWnd(m_dlg.get());
  log->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(log));
  protocol::Segment window;
  window.address = 0x100000;
  window.length = 0x40000;
  window.data = PatternBytes(0x40000, 0);
  for (std::size_t i = 0; i < 256; ++i) {
    window.data[i] = static_cast<std::uint8_t>(i);  // every byte value at least once
  }
  struct Case {
    const char* name;
    HexListView* view;
  };
  const Case cases[] = {{"main listing", m_dlg->hexView()}, {"upload log", log->list()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HexListView* view = c.view;
    const int viewport = view->viewport()->width();
    int widest = 0;
    auto measureAll = [&] {
      for (int row = 0; row < view->lineCount(); ++row) {
        widest = std::max(widest, view->sizeHintForIndex(view->model()->index(row, 0)).width());
      }
    };
    measureAll();                  // the placeholders (the log window starts empty)
    view->ListSegment(window, 0);  // then the whole window's bytes
    ASSERT_EQ(view->lineCount(), 16384);
    measureAll();
    EXPECT_LE(widest, viewport);
    QApplication::processEvents();
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);  // nothing to scroll sideways to
  }
}

TEST_F(DialogTest, PortsInEnumerationOrderWithoutSelection) {
  serial::AddVirtualPort("/tmp/pelion-test-port-b");
  serial::AddVirtualPort("/tmp/pelion-test-port-a");
  StartWithoutDevice();
  serial::RemoveVirtualPort("/tmp/pelion-test-port-b");
  serial::RemoveVirtualPort("/tmp/pelion-test-port-a");
  QStringList expected;
  for (const std::string& name : serial::EnumerateComPorts()) {
    expected << QString::fromStdString(name);
  }
  expected << QStringLiteral("/tmp/pelion-test-port-b")
           << QStringLiteral("/tmp/pelion-test-port-a");
  QStringList shown;
  for (int i = 0; i < m_dlg->comPorts()->count(); ++i) {
    shown << m_dlg->comPorts()->itemText(i);
  }
  EXPECT_EQ(shown, expected);  // unsorted: b stays above a
  EXPECT_EQ(m_dlg->comPorts()->currentIndex(), -1);
  EXPECT_TRUE(m_dlg->SelectedPortNumber().empty());
  m_dlg->comPorts()->setCurrentIndex(shown.size() - 1);
  EXPECT_EQ(m_dlg->SelectedPortNumber(), "/tmp/pelion-test-port-a");
}

// Enter ends the dialog unless a push button has the focus; then it clicks that button.
TEST_F(DialogTest, EnterEndsTheDialogUnlessAPushButtonHasTheFocus) {
  struct Case {
    const char* name;
    int focus;
    bool ends;
  };
  const Case cases[] = {
      {"hex view", IDC_HEX_VIEW, true},
      {"check box", IDC_CHECK_BOOT, true},
      {"port combo", IDC_COM_PORT, true},
      {"push button \"clear\"", IDC_CLEAR, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartWithoutDevice();
    Drop(IDC_PATH_BOOT, {WriteImage("bl.bin", PatternBytes(0x4000, 2))});
    QWidget* focus = m_dlg->control(c.focus);
    focus->setFocus();
    ASSERT_TRUE(focus->hasFocus());
    QTest::keyClick(focus, Qt::Key_Return);
    EXPECT_EQ(m_dlg->isVisible(), !c.ends);
    if (c.ends) {
      EXPECT_EQ(m_dlg->result(), QDialog::Accepted);
      EXPECT_EQ(SegmentAddresses(), std::vector<std::uint32_t>{0x38000});
    } else {
      EXPECT_TRUE(m_dlg->segments().empty());  // "clear" was clicked
    }
  }
}

// The port list is read anew each time it drops down: a port that appeared is listed, one that
// went is gone, and the chosen port stays chosen while it is present.
TEST_F(DialogTest, PortListIsReadAnewAsItDropsDown) {
  const std::string first = "/tmp/pelion-test-port-first";
  const std::string later = "/tmp/pelion-test-port-later";
  serial::AddVirtualPort(first);
  StartWithoutDevice();
  ui::PortCombo* combo = m_dlg->comPorts();
  combo->setCurrentIndex(combo->findText(QString::fromStdString(first)));
  serial::AddVirtualPort(later);
  combo->showPopup();
  combo->hidePopup();
  EXPECT_GE(combo->findText(QString::fromStdString(later)), 0);
  EXPECT_EQ(m_dlg->SelectedPortNumber(), first);

  serial::RemoveVirtualPort(first);
  combo->showPopup();
  combo->hidePopup();
  serial::RemoveVirtualPort(later);
  EXPECT_LT(combo->findText(QString::fromStdString(first)), 0);
  EXPECT_EQ(combo->currentIndex(), -1);  // the chosen port went away: nothing is chosen
  EXPECT_TRUE(m_dlg->SelectedPortNumber().empty());
}

// Icon 128 is the program's drawn icon: on the dialog, and in the about box at 32 pixels.
TEST_F(DialogTest, ApplicationIconOnTheDialogAndTheAboutBox) {
  StartWithoutDevice();
  const QIcon icon = PelionIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_FALSE(icon.availableSizes().isEmpty());
  EXPECT_EQ(m_dlg->windowIcon().pixmap(32).toImage(), icon.pixmap(32).toImage());
  CAboutDlg about(m_dlg.get());
  QImage shown;
  for (QLabel* label : about.findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) {
      shown = label->pixmap().toImage();
    }
  }
  EXPECT_EQ(shown, icon.pixmap(32, 32).toImage());
  // Drawn, not blank: the middle of the icon is opaque.
  EXPECT_EQ(qAlpha(shown.pixel(16, 16)), 255);
}

TEST_F(DialogTest, AboutItemOpensTheAboutBox) {
  StartWithoutDevice();
  const QList<QAction*> actions = m_dlg->systemMenu()->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_TRUE(actions[0]->isSeparator());
  EXPECT_EQ(actions[1]->text(), QStringLiteral("Pelion 정보(&A)..."));

  const vantor::testing::ShownAboutBox about =
      vantor::testing::ReadAboutBox([&] { actions[1]->trigger(); });
  ASSERT_TRUE(about.shown);
  EXPECT_EQ(about.title, QStringLiteral("Pelion 정보"));
  EXPECT_TRUE(about.texts.contains(QStringLiteral("Pelion, 버전 1.0")));
  EXPECT_TRUE(about.texts.contains(QStringLiteral("확인")));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // 확인 ended it

  // Other system commands do nothing here.
  m_dlg->OnSysCommand(0xF010);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

#ifdef _WIN32
// On Windows the about item is in the window's system menu (after a separator, command 0x10),
// and that command opens the about box.
TEST_F(DialogTest, AboutItemInTheSystemMenu) {
  StartWithoutDevice();
  vantor::testing::ExpectAboutItemInSystemMenu(m_dlg.get(), IDM_ABOUTBOX,
                                               QStringLiteral("Pelion 정보(&A)..."),
                                               QStringLiteral("Pelion 정보"));
}
#endif

}  // namespace
}  // namespace vantor::pelion::testing
