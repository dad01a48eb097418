// LockedFile on Windows: LockFileEx on the whole file, WriteFile at the start, SetEndOfFile,
// FlushFileBuffers.
#include <windows.h>

#include "production/locked_file.h"

namespace vantor::production {

namespace {

std::string LastErrorText() {
  return "system error " + std::to_string(::GetLastError());
}

class Win32LockedFile final : public LockedFile {
 public:
  Win32LockedFile(std::string path, HANDLE file) : LockedFile(std::move(path)), m_file(file) {}
  ~Win32LockedFile() override { ::CloseHandle(m_file); }

  bool Lock(std::string& error) override {
    OVERLAPPED at{};
    if (!::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at))
      return Fail("cannot lock", error);
    return true;
  }
  void Unlock() override {
    OVERLAPPED at{};
    ::UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &at);
  }

  bool Read(std::string& content, std::string& error) override {
    content.clear();
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(m_file, zero, nullptr, FILE_BEGIN))
      return Fail("cannot read", error);
    char buffer[4096];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(m_file, buffer, sizeof buffer, &got, nullptr))
        return Fail("cannot read", error);
      if (got == 0)
        return true;
      content.append(buffer, got);
    }
  }

  bool Replace(const std::string& content, std::string& error) override {
    LARGE_INTEGER zero{};
    DWORD put = 0;
    if (!::SetFilePointerEx(m_file, zero, nullptr, FILE_BEGIN) ||
        !::WriteFile(m_file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr) ||
        put != content.size() || !::SetEndOfFile(m_file) || !::FlushFileBuffers(m_file))
      return Fail("cannot write", error);
    return true;
  }

 private:
  bool Fail(const char* what, std::string& error) const {
    error = std::string(what) + " " + path() + ": " + LastErrorText();
    return false;
  }
  HANDLE m_file;
};

}  // namespace

std::unique_ptr<LockedFile> LockedFile::Open(const std::string& path, std::string& error) {
  const HANDLE file =
      ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path + ": " + LastErrorText();
    return nullptr;
  }
  return std::make_unique<Win32LockedFile>(path, file);
}

}  // namespace vantor::production
