// Patterns, file reading and writing, and the per-test folder (see test_files.h).
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define VANTOR_GETPID _getpid
#else
#include <unistd.h>
#define VANTOR_GETPID getpid
#endif

namespace vantor::testing {

std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 7 + (i >> 8) + seed * 31u) & 0xFF);
  }
  return bytes;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  EXPECT_TRUE(out) << "cannot write " << path;
}

void WriteFileText(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  EXPECT_TRUE(out) << "cannot write " << path;
}

TempFolder::TempFolder() {
  // Several folders in one test (or none running) still get names of their own.
  static std::atomic<unsigned> s_count{0};
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name =
      "vantor-test-" + std::to_string(VANTOR_GETPID()) + "-" + std::to_string(s_count++);
  if (test != nullptr) {
    name += std::string("-") + test->test_suite_name() + "-" + test->name();
  }
  for (char& c : name) {
    if (c == '/' || c == '\\')
      c = '_';  // parameterised tests name themselves "Suite/Test/0"
  }
  m_path = std::filesystem::temp_directory_path() / name;
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
  std::filesystem::create_directories(m_path);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

}  // namespace vantor::testing
