// File paths between Qt and the core: a QString path as a std::filesystem::path and back, and the
// path text the dialogs show for a file.
#pragma once

#include <QString>

#include <filesystem>

namespace vantor::ui {

std::filesystem::path ToPath(const QString& text);
QString FromPath(const std::filesystem::path& path);

// A file's path as the platform writes it (backslashes on Windows), the text a path field shows.
QString NativePathText(const QString& path);

}  // namespace vantor::ui
