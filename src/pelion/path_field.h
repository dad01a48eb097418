// PathField: the path fields of the image slots, a one-line static text with a border that keeps
// the full text and shows it shortened with an ellipsis when it does not fit.
#pragma once

#include <QFrame>
#include <QString>

namespace vantor::pelion {

class PathField : public QFrame {
 public:
  // `staticEdge`: the sunken edge of fields 1020..1023; 1019 has a plain border.
  PathField(bool staticEdge, QWidget* parent = nullptr);

  QString text() const { return m_text; }
  void setText(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_text;
};

}  // namespace vantor::pelion
