// Segment lists: insertion with one segment per address, clearing, and whole image files read
// into new segments.
#include "protocol/segments.h"

#include <algorithm>
#include <climits>

#include "protocol/files.h"

namespace vantor {

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

ImageReadResult ReadImageFile(SegmentList& list, std::FILE* file, std::uint32_t address,
                              std::int32_t expectedSize) {
  if (file == nullptr)
    return ImageReadResult::kNotOpened;
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{file};

  // A length the system cannot tell (or one beyond a segment's 32-bit length) cannot be read whole.
  if (std::fseek(file, 0, SEEK_END) != 0)
    return ImageReadResult::kNotOpened;
  const long fileLength = std::ftell(file);
  if (fileLength < 0 || fileLength > INT32_MAX)
    return ImageReadResult::kNotOpened;
  if (expectedSize != 0 && fileLength != expectedSize)
    return ImageReadResult::kWrongBlockSize;

  Segment segment;
  segment.data.resize(static_cast<std::size_t>(fileLength));
  std::rewind(file);
  const std::size_t got =
      segment.data.empty() ? 0 : std::fread(segment.data.data(), 1, segment.data.size(), file);
  segment.data.resize(got);
  segment.length = static_cast<std::int32_t>(got);
  segment.address = address;
  InsertSegment(list, std::move(segment));
  return ImageReadResult::kInserted;
}

ImageReadResult ReadImageFile(SegmentList& list, const std::filesystem::path& path,
                              std::uint32_t address, std::int32_t expectedSize) {
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr)
    return ImageReadResult::kNotOpened;
  return ReadImageFile(list, file, address, expectedSize);
}

}  // namespace vantor
