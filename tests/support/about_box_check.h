// Both programs' tests: what the about box shows when an action opens it. The box is read while
// it is up and closed with its 확인 button, so the action returns.
#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace vantor::testing {

struct ShownAboutBox {
  bool shown = false;
  QString title;
  QStringList texts;     // the static texts, then the buttons' captions
  QList<QImage> images;  // the pictures of the labels that show one
};

inline ShownAboutBox ReadAboutBox(const std::function<void()>& open) {
  ShownAboutBox seen;
  QTimer::singleShot(0, [&seen] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    seen.shown = true;
    seen.title = box->windowTitle();
    for (QLabel* label : box->findChildren<QLabel*>()) {
      seen.texts << label->text();
      if (!label->pixmap().isNull())
        seen.images << label->pixmap().toImage();
    }
    const QList<QPushButton*> buttons = box->findChildren<QPushButton*>();
    for (QPushButton* button : buttons)
      seen.texts << button->text();
    if (buttons.size() == 1)
      buttons.front()->click();  // 확인 ends the box
    if (box->isVisible())
      box->close();
  });
  open();
  return seen;
}

}  // namespace vantor::testing
