// A small state file shared by the runs on one PC (a unit-number counter, a list's position):
// each change is made under an exclusive lock of the file, written in place and synced to the
// disk before the caller goes on. The lock waits (it does not spin) for another run holding it.
#pragma once

#include <memory>
#include <string>

namespace vantor::production {

class LockedFile {
 public:
  // Opens `path`, creating it empty when missing. Null with `error`.
  static std::unique_ptr<LockedFile> Open(const std::string& path, std::string& error);
  virtual ~LockedFile() = default;

  // Takes the exclusive lock (waiting for another process holding it), or gives it back.
  virtual bool Lock(std::string& error) = 0;
  virtual void Unlock() = 0;
  // The whole content.
  virtual bool Read(std::string& content, std::string& error) = 0;
  // Writes `content` from the start, cuts the file after it, and syncs the file: on return the
  // content survives a crash of the process or of the machine.
  virtual bool Replace(const std::string& content, std::string& error) = 0;
  const std::string& path() const { return m_path; }

 protected:
  explicit LockedFile(std::string path) : m_path(std::move(path)) {}

 private:
  std::string m_path;
};

// Holds the lock of a file while in scope.
class FileLock {
 public:
  FileLock(LockedFile& file, std::string& error) : m_file(file), m_locked(file.Lock(error)) {}
  ~FileLock() {
    if (m_locked)
      m_file.Unlock();
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return m_locked; }

 private:
  LockedFile& m_file;
  bool m_locked;
};

}  // namespace vantor::production
