// Image arguments against the memory map's areas and slots, and the choice of regions.
#include "cli/images.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "device/image_placement.h"
#include "device/texts.h"

namespace vantor::cli {

std::string DescribeTargets(const device::PlaceTable& places) {
  std::string text;
  for (const device::ImagePlace& t : places.places) {
    char item[96];
    switch (t.rule) {
      case SizeRule::kUpTo:
        std::snprintf(item, sizeof item, "%s (up to %d bytes at 0x%06x)", t.name, t.size,
                      t.address);
        break;
      case SizeRule::kExact:
        std::snprintf(item, sizeof item, "%s (%d bytes at 0x%06x)", t.name, t.size, t.address);
        break;
      case SizeRule::kAny:
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

namespace {

// A placement fault as the user reads it: the programs' text first for the size faults.
std::string PlacementMessage(const device::PlacementError& placement) {
  switch (placement.fault) {
    case device::PlacementFault::kTooLarge:
      return std::string(device::kWrongFileText) + "\n" + placement.message;
    case device::PlacementFault::kWrongBlockSize:
      return std::string(kWrongBlockSizeText) + "\n" + placement.message;
    default:
      return placement.message;
  }
}

void InsertRuns(std::vector<device::ImageRun>& runs, SegmentList& segments) {
  for (device::ImageRun& run : runs) {
    Segment segment;
    segment.address = run.address;
    segment.length = static_cast<std::int32_t>(run.bytes.size());
    segment.data = std::move(run.bytes);
    InsertSegment(segments, std::move(segment));
  }
}

}  // namespace

bool LoadImages(const device::PlaceTable& places, const std::vector<std::string>& arguments,
                LoadedImages& images, std::string& error) {
  // The segment at `address` goes to `place` (a later argument for the address replaces both).
  const auto take = [&images](const device::ImagePlace& place, std::uint32_t address) {
    images.targets[address] = place.name;
    images.flags |= place.flags;
  };
  for (const std::string& argument : arguments) {
    const std::size_t equals = argument.find('=');
    device::ParsedImage parsed;
    std::error_code ec;
    if (equals == std::string::npos && std::filesystem::is_regular_file(argument, ec)) {
      // A file that carries its own addresses needs no NAME=: each run finds its place.
      if (!device::LoadImageFile(argument, parsed, error))
        return false;
      if (parsed.format != device::ImageFormat::kRaw) {
        std::vector<const device::ImagePlace*> chosen;
        device::PlacementError placement;
        if (!device::PlaceByAddress(places, parsed.runs, argument, chosen, placement)) {
          error = PlacementMessage(placement);
          return false;
        }
        for (std::size_t i = 0; i < chosen.size(); ++i)
          take(*chosen[i], parsed.runs[i].address);
        InsertRuns(parsed.runs, images.segments);
        continue;
      }
    }
    if (equals == std::string::npos || equals == 0 || equals + 1 == argument.size()) {
      error = "expected NAME=FILE, got '" + argument + "' (names: " + TargetNames(places) +
              (equals != std::string::npos ? ")"
               : parsed.format == device::ImageFormat::kRaw && parsed.runs.empty() &&
                       std::filesystem::exists(argument, ec)
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
    const auto size = regular ? std::filesystem::file_size(path, ec) : 0;
    if (!regular || ec) {
      error = "cannot read " + path.string() + " (" + target->name +
              "): " + (ec ? ec.message() : std::string("not a regular file"));
      return false;
    }
    if (!device::LoadImageFile(path, parsed, error))
      return false;
    if (parsed.format != device::ImageFormat::kRaw) {
      device::PlacementError placement;
      if (!device::CheckPlacement(*target, parsed.runs, path.string(), placement)) {
        error = PlacementMessage(placement);
        return false;
      }
      for (const device::ImageRun& run : parsed.runs)
        take(*target, run.address);
      InsertRuns(parsed.runs, images.segments);
      continue;
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
    take(*target, target->address);
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
