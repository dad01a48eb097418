// Where and how read-back memory is saved: the user's Documents folder and "vantor.%06x.bin".
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

namespace vantor::device {

// Windows: the profile folder + "\Documents"; elsewhere $HOME/Documents. Created when missing.
std::filesystem::path DocumentsFolder();

// std::fopen for a path of any characters (wide on Windows); null when it does not open.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// "vantor.%06x.bin" for a segment at `address`.
std::string ReadBackFileName(std::uint32_t address);

// Writes `data` completely to `path` (replacing it). False when the file could not be created or
// not all bytes were written; a partial file is removed.
bool WriteSegmentFile(const std::filesystem::path& path, std::span<const std::uint8_t> data);

}  // namespace vantor::device
