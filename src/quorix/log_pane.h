// The read-only multi-line panes of the dialog (log and file information) and AppendText, which
// turns bare LFs into CR LF, drops whole lines from the top at the pane's limit and keeps the
// newest text in view.
#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace vantor::quorix {

// The panes' capacity in characters (CR and LF count as one each).
inline constexpr int kPaneTextLimit = 30000;

// Every LF not already preceded by a CR gets one; CR LF pairs and lone CRs stay as they are.
QString ToCrLf(const QString& text);

// The text rule of AppendText on the pane's content as a plain string: the new content after
// appending `text` to `content` within `limit` characters.
QString AppendWithinLimit(const QString& content, const QString& text, int limit);

// A pane: keeps its text with CR LF line ends (the widget shows them as line breaks).
class LogPane : public QPlainTextEdit {
 public:
  explicit LogPane(QWidget* parent = nullptr);
  const QString& text() const { return m_text; }
  int textLimit() const { return m_limit; }
  void setTextLimit(int limit) { m_limit = limit; }
  // Replaces the whole content (UI thread).
  void SetContent(const QString& text);

 private:
  QString m_text;
  int m_limit = kPaneTextLimit;
};

// Appends a copy of `text` to `pane`; callable from any thread (carried out on the UI thread).
void AppendText(const QString& text, LogPane* pane);

}  // namespace vantor::quorix
