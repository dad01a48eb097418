// The wait cursor (see wait_cursor.h).
#include "ui/wait_cursor.h"

#include <QApplication>

#include "ui/worker.h"

namespace vantor::ui {

WaitCursor::WaitCursor() {
  RunOnUiThread(nullptr, [] { QApplication::setOverrideCursor(Qt::WaitCursor); });
}

WaitCursor::~WaitCursor() {
  RunOnUiThread(nullptr, [] { QApplication::restoreOverrideCursor(); });
}

}  // namespace vantor::ui
