// The images of a run, read and checked before anything is sent: the segment list, each
// segment's target (an area or slot name) and the download flags word they imply together.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "protocol/segments.h"

namespace vantor::production {

struct LoadedImages {
  protocol::SegmentList segments;
  std::map<std::uint32_t, std::string> targets;  // each segment's target, by its address
  std::uint32_t flags = 0;  // the download flags word the targets imply together
};

}  // namespace vantor::production
