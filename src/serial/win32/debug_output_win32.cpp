// Diagnostics to the debugger (OutputDebugStringW), converted from UTF-8.
#include <windows.h>

#include <string>
#include <string_view>

namespace vantor::serial {

void PlatformDebugOutput(std::string_view text) {
  if (text.empty())
    return;
  const int wide =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring buffer(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
  OutputDebugStringW(buffer.c_str());
}

}  // namespace vantor::serial
