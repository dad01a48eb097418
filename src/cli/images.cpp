// Image arguments against the memory map's areas and slots, and the choice of regions.
#include "cli/images.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "device/image_files.h"

namespace vantor::cli {

using production::LoadedImages;

std::string DescribeTargets(const device::PlaceTable& places) {
  std::string text;
  for (const device::ImagePlace& t : places.places) {
    char item[96];
    switch (t.rule) {
      case device::SizeRule::kUpTo:
        std::snprintf(item, sizeof item, "%s (up to %d bytes at 0x%06x)", t.name, t.size,
                      t.address);
        break;
      case device::SizeRule::kExact:
        std::snprintf(item, sizeof item, "%s (%d bytes at 0x%06x)", t.name, t.size, t.address);
        break;
      case device::SizeRule::kAny:
        std::snprintf(item, sizeof item, "%s (any size at 0x%06x)", t.name, t.address);
        break;
    }
    text += (text.empty() ? "" : ", ") + std::string(item);
  }
  return text;
}

std::string TargetNames(const device::PlaceTable& places) {
  std::string names;
  for (const device::ImagePlace& t : places.places) {
    if (!names.empty())
      names += ", ";
    names += t.name;
  }
  return names;
}

bool LoadImages(const device::PlaceTable& places, const std::vector<std::string>& arguments,
                LoadedImages& images, std::string& error) {
  // Each segment taken goes to its place (a later argument for the address replaces both).
  const auto take = [&images](const device::TakenImage& taken) {
    for (const auto& [address, place] : taken.taken) {
      images.targets[address] = place->name;
      images.flags |= place->flags;
    }
  };
  for (const std::string& argument : arguments) {
    const std::size_t equals = argument.find('=');
    std::error_code ec;
    if (equals == std::string::npos && std::filesystem::is_regular_file(argument, ec)) {
      // A file that carries its own addresses needs no NAME=: each run finds its place.
      const device::TakenImage taken = device::TakeImageFile(
          places, nullptr, argument, device::ImageFormats::kDetect, images.segments);
      if (taken.ok()) {
        take(taken);
        continue;
      }
      if (taken.fault != device::TakeFault::kNeedsPlace) {
        error = taken.Message();
        return false;
      }
    }
    if (equals == std::string::npos || equals == 0 || equals + 1 == argument.size()) {
      error = "expected NAME=FILE, got '" + argument + "' (names: " + TargetNames(places) +
              (equals != std::string::npos ? ")"
               : std::filesystem::exists(argument, ec)
                   ? "; a file without NAME= must be Intel HEX, S-record or ELF)"
                   : "; no such file)");
      return false;
    }
    const std::string name = argument.substr(0, equals);
    const std::filesystem::path path = argument.substr(equals + 1);
    const device::ImagePlace* target = device::FindPlace(places, name);
    if (target == nullptr) {
      error =
          "unknown name '" + name + "' in '" + argument + "' (names: " + TargetNames(places) + ")";
      return false;
    }
    const bool regular = std::filesystem::is_regular_file(path, ec);
    if (!regular || ec) {
      error = "cannot read " + path.string() + " (" + target->name +
              "): " + (ec ? ec.message() : std::string("not a regular file"));
      return false;
    }
    const device::TakenImage taken =
        device::TakeImageFile(places, target, path, device::ImageFormats::kDetect, images.segments);
    if (!taken.ok()) {
      error = taken.Message();
      return false;
    }
    take(taken);
  }
  return true;
}

bool SelectRegions(const std::vector<std::string>& names, std::vector<device::Region>& regions,
                   std::string& error) {
  regions.clear();
  bool binary = false;
  std::vector<const device::Region*> chosen;
  for (const std::string& name : names) {
    const device::Region* region = device::FindRegion(name);
    if (region == nullptr) {
      error = "unknown region '" + name + "' (regions: binary, firmware, boot, parameter, oem)";
      return false;
    }
    if (region == &device::kRegions[0])
      binary = true;
    if (std::find(chosen.begin(), chosen.end(), region) == chosen.end())
      chosen.push_back(region);
  }
  if (binary) {
    regions.push_back(device::kRegions[0]);
    return true;
  }
  std::sort(chosen.begin(), chosen.end(), [](const device::Region* a, const device::Region* b) {
    return a->address < b->address;
  });
  for (const device::Region* r : chosen)
    regions.push_back(*r);
  return true;
}

}  // namespace vantor::cli
