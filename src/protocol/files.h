// Where and how read-back memory is saved: the user's Documents folder and "vantor.%06x.bin".
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace vantor {

// Windows: the profile folder + "\Documents". Elsewhere: $HOME/Documents, created when missing.
std::filesystem::path DocumentsFolder();

// "vantor.%06x.bin" for a segment at `address`.
std::string ReadBackFileName(std::uint32_t address);

// Writes `data` completely to `path` (replacing it). False when the file could not be created or
// not all bytes were written; a partial file is removed.
bool WriteSegmentFile(const std::filesystem::path& path, std::span<const std::uint8_t> data);

}  // namespace vantor
