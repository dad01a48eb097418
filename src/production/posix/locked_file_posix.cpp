// LockedFile on POSIX: flock on the open file, pwrite at the start, ftruncate, fsync.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "production/locked_file.h"

namespace vantor::production {

namespace {

class PosixLockedFile final : public LockedFile {
 public:
  PosixLockedFile(std::string path, int fd) : LockedFile(std::move(path)), m_fd(fd) {}
  ~PosixLockedFile() override { ::close(m_fd); }

  bool Lock(std::string& error) override {
    while (::flock(m_fd, LOCK_EX) != 0) {
      if (errno != EINTR)
        return Fail("cannot lock", error);
    }
    return true;
  }
  void Unlock() override { ::flock(m_fd, LOCK_UN); }

  bool Read(std::string& content, std::string& error) override {
    content.clear();
    char buffer[4096];
    for (off_t at = 0;;) {
      const ssize_t got = ::pread(m_fd, buffer, sizeof buffer, at);
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        return Fail("cannot read", error);
      if (got == 0)
        return true;
      content.append(buffer, static_cast<std::size_t>(got));
      at += got;
    }
  }

  bool Replace(const std::string& content, std::string& error) override {
    for (std::size_t done = 0; done < content.size();) {
      const ssize_t put =
          ::pwrite(m_fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
      if (put < 0 && errno == EINTR)
        continue;
      if (put <= 0)
        return Fail("cannot write", error);
      done += static_cast<std::size_t>(put);
    }
    if (::ftruncate(m_fd, static_cast<off_t>(content.size())) != 0 || ::fsync(m_fd) != 0)
      return Fail("cannot write", error);
    return true;
  }

 private:
  bool Fail(const char* what, std::string& error) const {
    error = std::string(what) + " " + path() + ": " + std::strerror(errno);
    return false;
  }
  int m_fd;
};

}  // namespace

std::unique_ptr<LockedFile> LockedFile::Open(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixLockedFile>(path, fd);
}

}  // namespace vantor::production
