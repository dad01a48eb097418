// Checking a file a run will write, leaving nothing behind (see write_check.h).
#include "production/write_check.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vantor::production {

namespace {

int OpenForWriting(const std::string& path, bool create) {
#ifdef _WIN32
  const int flags = _O_WRONLY | _O_APPEND | _O_BINARY | (create ? _O_CREAT | _O_EXCL : 0);
  return _open(path.c_str(), flags, _S_IREAD | _S_IWRITE);
#else
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
  return ::open(path.c_str(), flags, 0644);
#endif
}

void CloseFile(int fd) {
#ifdef _WIN32
  _close(fd);
#else
  ::close(fd);
#endif
}

}  // namespace

bool CheckWritable(const std::string& path, const std::string& what, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) {
    error = what + " " + path + " is a folder";
    return false;
  }
  const bool exists = fs::exists(status);
  if (!exists) {
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
      error = "cannot write " + what + " " + path + ": the folder " + folder.string() +
              " does not exist";
      return false;
    }
  }
  const int fd = OpenForWriting(path, !exists);
  if (fd < 0) {
    error = "cannot write " + what + " " + path + ": " + std::strerror(errno);
    return false;
  }
  CloseFile(fd);
  if (!exists)
    fs::remove(path, ec);  // the run makes it when it first writes
  return true;
}

}  // namespace vantor::production
