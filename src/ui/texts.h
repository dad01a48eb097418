// Text between the core and Qt: the core's trace routed into Qt's logging, the core's own texts
// (UTF-8) and the line's text (8-bit, the system's code page) as QStrings.
#pragma once

#include <QString>

#include <string>

namespace vantor::ui {

// Routes the core's DebugOutput into the Qt logging category "vantor.trace" (silent unless
// enabled with QT_LOGGING_RULES="vantor.trace.debug=true").
void InstallTraceSink();

// A text the core hands over (UTF-8: the programs' messages and log lines) as a QString.
QString FromCoreText(const std::string& text);

// Text from the line (8-bit, the system's code page) to a QString and back.
QString FromLineText(const std::string& bytes);
std::string ToLineText(const QString& text);

}  // namespace vantor::ui
