// The about box both programs show from their about item (template 100): the program's icon at
// 32 pixels, its lines of text (name and version, then any further line) and 확인.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

namespace vantor::ui {

struct AboutContent {
  QString title;
  QIcon icon;
  QStringList lines;  // one static text each, 12 dialog units apart
};

class AboutBox : public QDialog {
 public:
  explicit AboutBox(const AboutContent& content, QWidget* parent = nullptr);
};

}  // namespace vantor::ui
