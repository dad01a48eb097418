// PathField: the path fields of the image slots, a one-line static text with a border that keeps
// the full text and shows it shortened with an ellipsis when it does not fit.
#pragma once

#include <QFrame>
#include <QString>

namespace vantor::pelion {

class PathField : public QFrame {
 public:
  // All fields have a plain border; `staticEdge` adds the sunken edge inside it (1020..1023).
  PathField(bool staticEdge, QWidget* parent = nullptr);

  QString text() const { return m_text; }
  void setText(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool m_staticEdge;
  QString m_text;
};

}  // namespace vantor::pelion
