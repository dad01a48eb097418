// Where unit numbers come from on one PC: a counter file (the next number, moved on by a step)
// or a list file (one value a line, used in order, its position in a file beside it). Each
// number is written down as used, under the file's lock and synced to the disk, before it is
// handed out: runs sharing the file never get one number twice, and neither does a run that
// follows a crash.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor::production {

class UnitNumbers {
 public:
  virtual ~UnitNumbers() = default;
  // Whether `number` can be written; false with the reason.
  using Fits = std::function<bool(std::uint64_t number, std::string& error)>;
  // The number the next Take would give (for the checks before anything is sent).
  virtual bool Peek(std::uint64_t& number, std::string& error) = 0;
  // Hands out the next number when `fits` takes it (else nothing is used), recorded first.
  virtual bool Take(const Fits& fits, std::uint64_t& number, std::string& error) = 0;
};

// A counter in `path`: the next number, starting at `start` when the file holds none yet (or
// at `start` when it is above the file's; a counter never goes back), moved on by `step`.
std::unique_ptr<UnitNumbers> OpenUnitCounter(const std::string& path,
                                             std::optional<std::uint64_t> start, std::uint64_t step,
                                             std::string& error);

// The values of `path` (one a line, decimal or 0x hex; empty lines and lines starting with #
// skipped; no value twice), the position of the next in ListPositionFile(path).
std::unique_ptr<UnitNumbers> OpenUnitList(const std::string& path, std::string& error);

// Where a list of unit numbers keeps the position of its next value: `path`.position.
inline std::string ListPositionFile(const std::string& path) {
  return path + ".position";
}

}  // namespace vantor::production
