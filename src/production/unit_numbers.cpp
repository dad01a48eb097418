// Counter and list files of unit numbers (see unit_numbers.h).
#include "production/unit_numbers.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <stdexcept>

#include "production/locked_file.h"
#include "serial/number_text.h"

namespace vantor::production {

namespace {

// A fixed width, so that each change overwrites the same bytes in place.
std::string StateText(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%020llu\n", static_cast<unsigned long long>(value));
  return text;
}

// The file's number; none when it is empty (a new file). False for anything else.
bool ParseState(const std::string& content, std::optional<std::uint64_t>& value) {
  std::string text = content;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) {
    value.reset();
    return true;
  }
  value = serial::ParseNumber<std::uint64_t>(text, serial::NumberSyntax::kDecimalOrHex);
  return value.has_value();
}

// A number kept in a locked file; `next` reads it, `advance` writes the following one.
class StateFile {
 public:
  explicit StateFile(std::unique_ptr<LockedFile> file) : m_file(std::move(file)) {}

  bool Read(std::optional<std::uint64_t>& value, std::string& error) {
    std::string content;
    if (!m_file->Read(content, error))
      return false;
    if (!ParseState(content, value)) {
      error = m_file->path() + " does not hold a number; it is left as it is";
      return false;
    }
    return true;
  }
  bool Write(std::uint64_t value, std::string& error) {
    return m_file->Replace(StateText(value), error);
  }
  LockedFile& file() { return *m_file; }
  std::mutex& mutex() { return m_mutex; }  // the file lock does not part threads of one process

 private:
  std::unique_ptr<LockedFile> m_file;
  std::mutex m_mutex;
};

class UnitCounter final : public UnitNumbers {
 public:
  UnitCounter(std::unique_ptr<LockedFile> file, std::optional<std::uint64_t> start,
              std::uint64_t step)
      : m_state(std::move(file)), m_start(start), m_step(step) {}

  bool Peek(std::uint64_t& number, std::string& error) override {
    std::lock_guard guard(m_state.mutex());
    FileLock lock(m_state.file(), error);
    return lock.locked() && Next(number, error);
  }

  bool Take(const Fits& fits, std::uint64_t& number, std::string& error) override {
    std::lock_guard guard(m_state.mutex());
    FileLock lock(m_state.file(), error);
    if (!lock.locked() || !Next(number, error) || !fits(number, error))
      return false;
    if (number > UINT64_MAX - m_step) {
      error = "the unit counter " + m_state.file().path() + " is at its end";
      return false;
    }
    return m_state.Write(number + m_step, error);
  }

 private:
  bool Next(std::uint64_t& number, std::string& error) {
    std::optional<std::uint64_t> stored;
    if (!m_state.Read(stored, error))
      return false;
    if (!stored && !m_start) {
      error = "the unit counter " + m_state.file().path() + " is new: give --serial-start";
      return false;
    }
    number = stored && (!m_start || *stored >= *m_start) ? *stored : *m_start;
    return true;
  }

  StateFile m_state;
  std::optional<std::uint64_t> m_start;
  std::uint64_t m_step;
};

class UnitList final : public UnitNumbers {
 public:
  UnitList(std::unique_ptr<LockedFile> position, std::vector<std::uint64_t> values,
           std::string path)
      : m_state(std::move(position)), m_values(std::move(values)), m_path(std::move(path)) {}

  bool Peek(std::uint64_t& number, std::string& error) override {
    std::lock_guard guard(m_state.mutex());
    FileLock lock(m_state.file(), error);
    std::size_t index = 0;
    return lock.locked() && Next(index, number, error);
  }

  bool Take(const Fits& fits, std::uint64_t& number, std::string& error) override {
    std::lock_guard guard(m_state.mutex());
    FileLock lock(m_state.file(), error);
    std::size_t index = 0;
    return lock.locked() && Next(index, number, error) && fits(number, error) &&
           m_state.Write(index + 1, error);
  }

 private:
  bool Next(std::size_t& index, std::uint64_t& number, std::string& error) {
    std::optional<std::uint64_t> stored;
    if (!m_state.Read(stored, error))
      return false;
    index = static_cast<std::size_t>(stored.value_or(0));
    if (index >= m_values.size()) {
      error = "every value of the unit list " + m_path + " is used (" +
              std::to_string(m_values.size()) + ")";
      return false;
    }
    number = m_values[index];
    return true;
  }

  StateFile m_state;
  std::vector<std::uint64_t> m_values;
  std::string m_path;
};

}  // namespace

std::unique_ptr<UnitNumbers> OpenUnitCounter(const std::string& path,
                                             std::optional<std::uint64_t> start, std::uint64_t step,
                                             std::string& error) {
  if (step == 0) {
    error = "--serial-step must be at least 1";
    return nullptr;
  }
  auto file = LockedFile::Open(path, error);
  if (!file)
    return nullptr;
  return std::make_unique<UnitCounter>(std::move(file), start, step);
}

std::unique_ptr<UnitNumbers> OpenUnitList(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read the unit list " + path;
    return nullptr;
  }
  std::vector<std::uint64_t> values;
  std::set<std::uint64_t> seen;
  int lineNumber = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineNumber;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (line.empty() || line[0] == '#')
      continue;
    // Decimal (a counter file's zero padding is no octal) or 0x hex.
    const auto value =
        serial::ParseNumber<std::uint64_t>(line, serial::NumberSyntax::kDecimalOrHex);
    if (!value) {
      error = path + ":" + std::to_string(lineNumber) + ": not a number: '" + line + "'";
      return nullptr;
    }
    if (!seen.insert(*value).second) {
      error = path + ":" + std::to_string(lineNumber) + ": " + line + " is listed twice";
      return nullptr;
    }
    values.push_back(*value);
  }
  auto position = LockedFile::Open(ListPositionFile(path), error);
  if (!position)
    return nullptr;
  return std::make_unique<UnitList>(std::move(position), std::move(values), path);
}

}  // namespace vantor::production
