// Image arguments against the memory map's areas and slots, and the choice of regions.
#include "cli/images.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "device/texts.h"

namespace vantor::cli {

const ImageTarget* FindTarget(std::span<const ImageTarget> table, std::string_view name) {
  for (const ImageTarget& t : table) {
    if (device::SameName(t.name, name))
      return &t;
  }
  return nullptr;
}

std::string TargetNames(std::span<const ImageTarget> table) {
  std::string names;
  for (const ImageTarget& t : table) {
    if (!names.empty())
      names += ", ";
    names += t.name;
  }
  return names;
}

bool LoadImages(std::span<const ImageTarget> table, const std::vector<std::string>& arguments,
                LoadedImages& images, std::string& error) {
  for (const std::string& argument : arguments) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == argument.size()) {
      error = "expected NAME=FILE, got '" + argument + "' (names: " + TargetNames(table) + ")";
      return false;
    }
    const std::string name = argument.substr(0, equals);
    const std::filesystem::path path = argument.substr(equals + 1);
    const ImageTarget* target = FindTarget(table, name);
    if (target == nullptr) {
      error =
          "unknown name '" + name + "' in '" + argument + "' (names: " + TargetNames(table) + ")";
      return false;
    }
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    const auto size = regular ? std::filesystem::file_size(path, ec) : 0;
    if (!regular || ec) {
      error = "cannot read " + path.string() + " (" + target->name +
              "): " + (ec ? ec.message() : std::string("not a regular file"));
      return false;
    }
    std::int32_t expected = 0;
    switch (target->rule) {
      case SizeRule::kUpTo:
        if (size > static_cast<std::uintmax_t>(target->size)) {
          error = std::string(device::kWrongFileText) + "\n" + path.string() + ": " +
                  std::to_string(size) + " bytes, " + target->name + " takes at most " +
                  std::to_string(target->size);
          return false;
        }
        expected = static_cast<std::int32_t>(size);
        break;
      case SizeRule::kExact:
        expected = target->size;
        break;
      case SizeRule::kAny:
        expected = 0;
        break;
    }
    switch (ReadImageFile(images.segments, path, target->address, expected)) {
      case ImageReadResult::kInserted:
        break;
      case ImageReadResult::kWrongBlockSize:
        error = std::string(kWrongBlockSizeText) + "\n" + path.string() + ": " +
                std::to_string(size) + " bytes, " + target->name + " takes exactly " +
                std::to_string(target->size);
        return false;
      case ImageReadResult::kNotOpened:
        error = "cannot read " + path.string() + " (" + target->name + ")";
        return false;
    }
    images.names.emplace_back(target->name);
  }
  return true;
}

bool SelectRegions(const std::vector<std::string>& names, std::vector<Region>& regions,
                   std::string& error) {
  regions.clear();
  bool binary = false;
  std::vector<const Region*> chosen;
  for (const std::string& name : names) {
    const Region* region = FindRegion(name);
    if (region == nullptr) {
      error = "unknown region '" + name + "' (regions: binary, firmware, boot, parameter, oem)";
      return false;
    }
    if (region == &kRegions[0])
      binary = true;
    if (std::find(chosen.begin(), chosen.end(), region) == chosen.end())
      chosen.push_back(region);
  }
  if (binary) {
    regions.push_back(kRegions[0]);
    return true;
  }
  std::sort(chosen.begin(), chosen.end(),
            [](const Region* a, const Region* b) { return a->address < b->address; });
  for (const Region* r : chosen)
    regions.push_back(*r);
  return true;
}

}  // namespace vantor::cli
