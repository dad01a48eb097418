// What tests of every layer need around files: the byte patterns they fill images with, a file's
// bytes or text read back and written, and a fresh folder per test that is removed after it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::testing {

// `count` bytes of a pattern that differs per `seed` and does not repeat every 256 bytes, so
// files, regions and their pieces are told apart.
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint8_t seed);

// The whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
std::string ReadFileText(const std::filesystem::path& path);

// Writes the file whole (binary, no line-end translation); a failure fails the current test.
void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
void WriteFileText(const std::filesystem::path& path, std::string_view text);

// A folder of the running test's own under the system's temporary folder: made fresh (empty) on
// construction, removed with everything in it on destruction. Its name carries the process and
// the test, so tests running at the same time never share one.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

}  // namespace vantor::testing
