// The trace sink and the text conversions between the core and Qt (see texts.h).
#include "ui/texts.h"

#include <QLoggingCategory>

#include "serial/debug_output.h"

namespace vantor::ui {

namespace {

// Debug messages of this category are off unless QT_LOGGING_RULES enables them.
Q_LOGGING_CATEGORY(lcTrace, "vantor.trace", QtInfoMsg)

}  // namespace

void InstallTraceSink() {
  serial::SetDebugSink([](std::string_view text) {
    if (!lcTrace().isDebugEnabled())
      return;
    QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    while (line.endsWith(u'\n'))
      line.chop(1);
    qCDebug(lcTrace).noquote() << line;
  });
}

QString FromCoreText(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FromLineText(const std::string& bytes) {
  return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToLineText(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

}  // namespace vantor::ui
