// Combo boxes of the programs' templates: a drop-down list whose opened list is as tall as its
// template says, and the port combo that re-reads the ports as it drops down and shows whole port
// names (their end kept when the closed control is too narrow, the list as wide as its longest
// name).
#pragma once

#include <QComboBox>
#include <QFont>

namespace vantor::ui {

// A drop-down list combo placed from its template: the closed control is as tall as the toolkit
// draws it, and the opened list shows as many whole items as fit in the rest of the template
// height (at least one; a scroll bar for the others).
class DropDownList : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  // Template rectangle in dialog units of `font`; `height` includes the opened list.
  void Place(const QFont& font, int x, int y, int width, int height);
  // The opened list's room in pixels (template height less the closed control).
  int listHeight() const { return m_listHeight; }
  void showPopup() override;

 private:
  int m_listHeight = 0;
};

class PortCombo : public DropDownList {
  Q_OBJECT
 public:
  using DropDownList::DropDownList;
  void showPopup() override;
  // Adds `name` at its place in text order (sorted as text: COM10 before COM2).
  void AddSorted(const QString& name);
  // The closed combo's text: the current name, cut at its start when too long, so that its end
  // (the part that tells ports apart: ttyUSB7, COM12) stays.
  QString shownText() const;

 signals:
  // The list is about to open: the owner lists the ports present now.
  void aboutToDropDown();

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantor::ui
