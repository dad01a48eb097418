// AppendText: line ends, and whole lines dropped from the top at the pane's limit.
#include <gtest/gtest.h>

#include "quorix/log_pane.h"

namespace vantor::quorix {
namespace {

// Nine lines of ten characters: eight letters and CR LF each.
QString NineLines() {
  QString text;
  for (int i = 0; i < 9; ++i)
    text += QString(8, QChar(u'a' + i)) + "\r\n";
  return text;
}

struct AppendCase {
  const char* name;
  QString before;
  QString text;
  int limit;
  QString after;
};

TEST(AppendText, LineEndsAndRoomFollowTheRules) {
  const QString nine = NineLines();
  const QString fifteen(15, u'x');
  const QString twentyFive(25, u'y');
  const AppendCase cases[] = {
      {"bare LFs get CRs", "", "a\nb\n", 100, "a\r\nb\r\n"},
      {"lone LF after a CR in the pane", "x\r", "\n", 100, "x\r\r\n"},
      {"CR LF left alone", "", "a\r\nb", 100, "a\r\nb"},
      {"lone CR left alone", "", "a\rb", 100, "a\rb"},
      {"LF first", "", "\nz", 100, "\r\nz"},
      {"empty text", "abc", "", 100, "abc"},
      {"exactly full", nine, QString(10, u'z'), 100, nine + QString(10, u'z')},
      {"overflow 5 drops one line", nine, fifteen, 100, nine.mid(10) + fifteen},
      {"overflow 15 drops two lines", nine, twentyFive, 100, nine.mid(20) + twentyFive},
      {"last char to go is a CR", nine, QString(19, u'w'), 100, nine.mid(10) + QString(19, u'w')},
      {"last char to go is an LF", nine, QString(20, u'w'), 100, nine.mid(10) + QString(20, u'w')},
      {"one past an LF drops the next line", nine, QString(21, u'w'), 100,
       nine.mid(20) + QString(21, u'w')},
      {"new text longer than the pane", nine, QString(120, u'q'), 100, QString(100, u'q')},
  };
  for (const AppendCase& c : cases) {
    EXPECT_EQ(AppendWithinLimit(c.before, c.text, c.limit), c.after) << c.name;
    EXPECT_LE(AppendWithinLimit(c.before, c.text, c.limit).size(), c.limit) << c.name;
  }
}

TEST(AppendText, PaneKeepsTheConvertedTextAndItsLimit) {
  LogPane pane;
  pane.setTextLimit(100);
  AppendText(NineLines(), &pane);
  EXPECT_EQ(pane.text(), NineLines());
  AppendText(QString(15, u'x') + "\n", &pane);
  EXPECT_EQ(pane.text(), NineLines().mid(10) + QString(15, u'x') + "\r\n");
  EXPECT_EQ(pane.toPlainText().count(u'\n'), 9);                       // shown as line breaks
  EXPECT_EQ(pane.textCursor().position(), pane.toPlainText().size());  // caret at the end
}

TEST(AppendText, DefaultLimitIsThirtyThousand) {
  EXPECT_EQ(LogPane().textLimit(), 30000);
}

}  // namespace
}  // namespace vantor::quorix
