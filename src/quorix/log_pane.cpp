// AppendText's line-end and room rules, and the pane that shows the result.
#include "quorix/log_pane.h"

#include <QScrollBar>
#include <QTextCursor>

#include "ui/worker.h"

namespace vantor::quorix {

QString ToCrLf(const QString& text) {
  QString out = text;
  qsizetype pos = 0;
  while (pos < out.size()) {
    const qsizetype lf = out.indexOf(u'\n', pos);
    if (lf < 0)
      break;
    if (lf == 0 || out.at(lf - 1) != u'\r') {
      out.insert(lf, u'\r');
      pos = lf + 2;
    } else {
      pos = lf + 1;
    }
  }
  return out;
}

QString AppendWithinLimit(const QString& content, const QString& text, int limit) {
  const QString converted = ToCrLf(text);
  QString result = content;
  const qsizetype current = result.size();
  const qsizetype n = converted.size();
  if (current + n > limit) {
    // The last character that must go, and the end of its line plus its CR LF: whole lines
    // leave from the top, as few as give the room.
    const qsizetype last = current + n - limit - 1;
    qsizetype cut;
    if (last >= current) {
      cut = current;  // the new text alone exceeds the limit: everything old goes
    } else {
      const qsizetype lineEnd = result.indexOf(QStringLiteral("\r\n"), last < 0 ? 0 : last);
      // A line's length excludes its CR LF; the selection takes it too.
      cut = lineEnd < 0 ? current : lineEnd + 2;
      // A CR LF that starts before `last` (last on the LF) still ends that line.
      if (last > 0 && result.at(last) == u'\n' && result.at(last - 1) == u'\r')
        cut = last + 1;
    }
    result.remove(0, cut);
  }
  // A text longer than the whole pane keeps its newest characters.
  result.append(n > limit ? converted.right(limit) : converted);
  return result;
}

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setAcceptDrops(false);
  viewport()->setAcceptDrops(false);
  setContextMenuPolicy(Qt::NoContextMenu);
}

void LogPane::SetContent(const QString& text) {
  m_text = text;
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  setPlainText(shown);
  // The caret at the end and in view.
  QTextCursor cursor = textCursor();
  cursor.movePosition(QTextCursor::End);
  setTextCursor(cursor);
  ensureCursorVisible();
}

void AppendText(const QString& text, LogPane* pane) {
  ui::RunOnUiThread(
      pane, [&] { pane->SetContent(AppendWithinLimit(pane->text(), text, pane->textLimit())); });
}

}  // namespace vantor::quorix
