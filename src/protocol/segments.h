// SegmentList: image data with the device address at which each piece goes. At most one segment
// per address; list order is sending order. InsertSegment and ClearSegments fill and empty a list
// (the device layer takes image files into it).
#pragma once

#include <cstdint>
#include <list>
#include <vector>

namespace vantor::protocol {

struct Segment {
  std::uint32_t address = 0;       // device address of the first byte
  std::int32_t length = 0;         // number of data bytes (== data.size())
  std::vector<std::uint8_t> data;  // owned by the segment
};

// Segments in sending order. Iteration yields `const Segment&` / `Segment&` in list order.
class SegmentList {
 public:
  using Storage = std::list<Segment>;
  Storage::iterator begin() { return m_items.begin(); }
  Storage::iterator end() { return m_items.end(); }
  Storage::const_iterator begin() const { return m_items.begin(); }
  Storage::const_iterator end() const { return m_items.end(); }
  bool empty() const { return m_items.empty(); }
  std::size_t size() const { return m_items.size(); }

  // The segment at `address`, or null.
  Segment* Find(std::uint32_t address);
  const Segment* Find(std::uint32_t address) const;
  // Takes the segment at `address` out of the list, wherever it stands; false when none.
  bool Remove(std::uint32_t address);
  // Sum of the lengths of all segments.
  std::int64_t TotalBytes() const;

 private:
  friend void InsertSegment(SegmentList& list, Segment segment);
  friend void ClearSegments(SegmentList& list);
  Storage m_items;
};

// Removes the segment with the same address (if any) and appends `segment` at the end.
void InsertSegment(SegmentList& list, Segment segment);
// Empties the list, releasing every segment and its data.
void ClearSegments(SegmentList& list);

}  // namespace vantor::protocol
