// Windows only: checks that a dialog's system menu ends with a separator and its about item, and
// that the item's command opens the about box.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <QApplication>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace vantor::testing {

inline void ExpectAboutItemInSystemMenu(QWidget* dialog, UINT command, const QString& itemText,
                                        const QString& boxTitle) {
  const auto hwnd = reinterpret_cast<HWND>(dialog->winId());
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  ASSERT_NE(menu, nullptr);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR,
            static_cast<UINT>(MF_SEPARATOR));
  EXPECT_EQ(GetMenuItemID(menu, count - 1), command);
  wchar_t text[64] = {};
  GetMenuStringW(menu, static_cast<UINT>(count - 1), text, 64, MF_BYPOSITION);
  EXPECT_EQ(QString::fromWCharArray(text), itemText);

  QString title;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    box->close();
  });
  SendMessageW(hwnd, WM_SYSCOMMAND, command, 0);
  EXPECT_EQ(title, boxTitle);
}

}  // namespace vantor::testing
