// POSIX: the Documents folder under the user's home, and file opening by path.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "device/files.h"

namespace vantor::device {

std::filesystem::path DocumentsFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* entry = ::getpwuid(::getuid());
    home = entry != nullptr ? entry->pw_dir : "/";
  }
  std::filesystem::path folder = std::filesystem::path(home) / "Documents";
  std::error_code ignored;  // a folder that cannot be made shows up when a file is written there
  std::filesystem::create_directories(folder, ignored);
  return folder;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

}  // namespace vantor::device
