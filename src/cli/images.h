// The memory map's areas, slots and read-back regions as the vantor tool's arguments name them,
// and the checks that turn NAME=FILE arguments into a segment list before anything is sent.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/image_placement.h"
#include "device/memory_map.h"
#include "production/loaded_images.h"
#include "protocol/segments.h"

namespace vantor::cli {

// Reads every NAME=FILE argument with its target's size rule into `images.segments` (one
// segment per address, a later argument replacing an earlier one). False with `error` naming the
// argument, the file and what is wrong (the programs' texts "잘못된 파일입니다." and
// "Wrong Block Size" for sizes); then nothing is to be sent.
// `places` is device::AreaPlaces() (download) or device::SlotPlaces() (write).
bool LoadImages(const device::PlaceTable& places, const std::vector<std::string>& arguments,
                production::LoadedImages& images, std::string& error);

// The regions named by `names`, in ascending address order, each once; "binary" alone replaces
// all others (it is the whole window). False with `error` for an unknown name.
bool SelectRegions(const std::vector<std::string>& names, std::vector<device::Region>& regions,
                   std::string& error);

// The names of a table joined with ", " (for help texts and messages).
std::string TargetNames(const device::PlaceTable& places);
// Each place with its size rule and address, for help texts: "NAME (up to N bytes at
// ADDRESS), ...".
std::string DescribeTargets(const device::PlaceTable& places);

}  // namespace vantor::cli
