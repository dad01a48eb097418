// Windows: the Documents folder under the user's profile, and file opening by wide path.
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <system_error>

#include "device/files.h"

namespace vantor::device {

std::filesystem::path DocumentsFolder() {
  wchar_t profile[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile)))
    profile[0] = L'\0';
  std::filesystem::path folder(std::wstring(profile) + L"\\Documents");
  std::error_code ignored;  // a folder that cannot be made shows up when a file is written there
  if (profile[0] != L'\0')
    std::filesystem::create_directories(folder, ignored);
  return folder;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
}

}  // namespace vantor::device
