// The main dialog's start: template layout and captions, fonts, the port list, the about item.
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "pelion/slots.h"
#include "pelion_fixture.h"
#include "serial/port_enumeration.h"

namespace vantor::pelion::testing {
namespace {

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

TEST_F(DialogTest, FontsAreBold) {
  StartWithoutDevice();
  const QFontInfo list(m_dlg->hexView()->font());
  EXPECT_TRUE(list.bold());
  EXPECT_EQ(m_dlg->listFont().pixelSize(), 14);
  // Fixed pitch by its glyphs (fontconfig does not flag every monospaced face as such).
  const QFontMetrics metrics(m_dlg->hexView()->font());
  EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiii")),
            metrics.horizontalAdvance(QStringLiteral("WW00")));
  EXPECT_TRUE(QFontInfo(m_dlg->button(IDC_DOWNLOAD_BINARY)->font()).bold());
  EXPECT_EQ(m_dlg->buttonFont().family(), m_dlg->font().family());
  EXPECT_FALSE(QFontInfo(m_dlg->button(IDC_UPLOAD)->font()).bold());
}

TEST_F(DialogTest, PortsInEnumerationOrderWithoutSelection) {
  AddVirtualPort("/tmp/pelion-test-port-b");
  AddVirtualPort("/tmp/pelion-test-port-a");
  StartWithoutDevice();
  RemoveVirtualPort("/tmp/pelion-test-port-b");
  RemoveVirtualPort("/tmp/pelion-test-port-a");
  QStringList expected;
  for (const std::string& name : EnumerateComPorts()) {
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

TEST_F(DialogTest, AboutItemOpensTheAboutBox) {
  StartWithoutDevice();
  const QList<QAction*> actions = m_dlg->systemMenu()->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_TRUE(actions[0]->isSeparator());
  EXPECT_EQ(actions[1]->text(), QStringLiteral("Pelion 정보(&A)..."));

  QString title;
  QStringList texts;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    for (QLabel* label : box->findChildren<QLabel*>()) {
      texts << label->text();
    }
    for (QPushButton* button : box->findChildren<QPushButton*>()) {
      texts << button->text();
      button->click();
    }
  });
  actions[1]->trigger();
  EXPECT_EQ(title, QStringLiteral("Pelion 정보"));
  EXPECT_TRUE(texts.contains(QStringLiteral("Pelion, 버전 1.0")));
  EXPECT_TRUE(texts.contains(QStringLiteral("확인")));

  // Other system commands do nothing here.
  m_dlg->OnSysCommand(0xF010);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace vantor::pelion::testing
