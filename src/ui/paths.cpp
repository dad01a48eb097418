// File paths between Qt and the core (see paths.h).
#include "ui/paths.h"

#include <QDir>

namespace vantor::ui {

std::filesystem::path ToPath(const QString& text) {
  return std::filesystem::path(text.toStdU16String());
}

QString FromPath(const std::filesystem::path& path) {
  return QString::fromStdU16String(path.u16string());
}

QString NativePathText(const QString& path) {
  return QDir::toNativeSeparators(path);
}

}  // namespace vantor::ui
