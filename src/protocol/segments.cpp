// Segment lists: insertion with one segment per address, and clearing.
#include "protocol/segments.h"

#include <algorithm>

namespace vantor::protocol {

Segment* SegmentList::Find(std::uint32_t address) {
  const auto it = std::find_if(m_items.begin(), m_items.end(),
                               [address](const Segment& s) { return s.address == address; });
  return it == m_items.end() ? nullptr : &*it;
}

const Segment* SegmentList::Find(std::uint32_t address) const {
  return const_cast<SegmentList*>(this)->Find(address);
}

bool SegmentList::Remove(std::uint32_t address) {
  const auto it = std::find_if(m_items.begin(), m_items.end(),
                               [address](const Segment& s) { return s.address == address; });
  if (it == m_items.end())
    return false;
  m_items.erase(it);
  return true;
}

std::int64_t SegmentList::TotalBytes() const {
  std::int64_t total = 0;
  for (const Segment& s : m_items)
    total += s.length;
  return total;
}

void InsertSegment(SegmentList& list, Segment segment) {
  list.Remove(segment.address);
  list.m_items.push_back(std::move(segment));
}

void ClearSegments(SegmentList& list) {
  list.m_items.clear();
}

}  // namespace vantor::protocol
