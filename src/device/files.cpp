// Saved read-back files: their names and a write that is whole or reported.
#include "device/files.h"

#include <cstdio>
#include <system_error>

namespace vantor::device {

std::string ReadBackFileName(std::uint32_t address) {
  char name[32];
  std::snprintf(name, sizeof name, "vantor.%06x.bin", address);
  return name;
}

bool WriteSegmentFile(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
  std::FILE* file = OpenFile(path, "wb");
  if (file == nullptr)
    return false;
  bool whole = data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
  // Buffered bytes can still fail on the way to the disk: the close tells.
  whole = std::fflush(file) == 0 && whole;
  whole = std::fclose(file) == 0 && whole;
  if (!whole) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);  // no partial file left that looks like a good one
  }
  return whole;
}

}  // namespace vantor::device
