// Taking image files into areas and slots (see image_files.h).
#include "device/image_files.h"

#include <climits>
#include <cstdio>
#include <memory>

#include "device/files.h"
#include "device/texts.h"

namespace vantor::device {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads from the current position until the end of the file or `limit` bytes. False on a read
// error.
bool ReadUpTo(std::FILE* file, std::size_t limit, std::vector<std::uint8_t>& content) {
  content.clear();
  std::uint8_t block[65536];
  while (content.size() < limit) {
    const std::size_t want = std::min(sizeof block, limit - content.size());
    const std::size_t got = std::fread(block, 1, want, file);
    content.insert(content.end(), block, block + got);
    if (got < want)
      break;
  }
  return std::ferror(file) == 0;
}

// The file's length by seeking to its end, then back at its start; -1 when the system cannot
// tell it or it is beyond a segment's 32-bit length.
std::int64_t LengthOf(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0)
    return -1;
  const long length = std::ftell(file);
  std::rewind(file);
  return length < 0 || length > INT32_MAX ? -1 : length;
}

TakenImage Fail(TakenImage result, TakeFault fault, std::string detail) {
  result.fault = fault;
  result.detail = std::move(detail);
  switch (fault) {
    case TakeFault::kTooLarge:
      result.text = kWrongFileText;
      break;
    case TakeFault::kWrongBlockSize:
      result.text = kWrongBlockSizeText;
      break;
    default:
      break;
  }
  return result;
}

TakenImage FromPlacement(TakenImage result, const PlacementError& placement) {
  const TakeFault fault = placement.fault == PlacementFault::kTooLarge ? TakeFault::kTooLarge
                          : placement.fault == PlacementFault::kWrongBlockSize
                              ? TakeFault::kWrongBlockSize
                              : TakeFault::kOutside;
  return Fail(std::move(result), fault, placement.message);
}

// The place's size rule over a raw file of `size` bytes; kNone when it fits.
TakeFault RawSizeFault(const ImagePlace& place, std::uint64_t size) {
  switch (place.rule) {
    case SizeRule::kUpTo:
      return size > static_cast<std::uint64_t>(place.size) ? TakeFault::kTooLarge
                                                           : TakeFault::kNone;
    case SizeRule::kExact:
      return size != static_cast<std::uint64_t>(place.size) ? TakeFault::kWrongBlockSize
                                                            : TakeFault::kNone;
    case SizeRule::kAny:
      break;
  }
  return TakeFault::kNone;
}

void Insert(protocol::SegmentList& segments, std::uint32_t address,
            std::vector<std::uint8_t> bytes) {
  protocol::Segment segment;
  segment.address = address;
  segment.length = static_cast<std::int32_t>(bytes.size());
  segment.data = std::move(bytes);
  protocol::InsertSegment(segments, std::move(segment));
}

}  // namespace

std::string TakenImage::Message() const {
  if (text.empty())
    return detail;
  if (detail.empty())
    return text;
  return text + "\n" + detail;
}

bool ReadImageFile(const std::filesystem::path& path, std::vector<std::uint8_t>& content,
                   std::string& error) {
  const File file(OpenFile(path, "rb"));
  if (!file) {
    error = CannotReadText(path.string());
    return false;
  }
  if (!ReadUpTo(file.get(), SIZE_MAX, content)) {
    error = CannotReadText(path.string(), "read error");
    return false;
  }
  return true;
}

TakenImage TakeImageFile(const PlaceTable& table, const ImagePlace* place,
                         const std::filesystem::path& path, ImageFormats formats,
                         protocol::SegmentList& segments) {
  TakenImage result;
  const std::string name = path.string();
  const auto notRead = [&](std::string detail) {
    // What was there is not the file the user gave: it must not be sent in its stead.
    if (place != nullptr)
      segments.Remove(place->address);
    return Fail(std::move(result), TakeFault::kNotRead, std::move(detail));
  };
  const auto sizeFault = [&](TakeFault fault, std::uint64_t size) {
    return Fail(
        std::move(result), fault,
        FileSizeText(name, size, place->name, fault == TakeFault::kWrongBlockSize, place->size));
  };

  std::vector<std::uint8_t> content;
  if (formats == ImageFormats::kRaw) {
    if (place == nullptr)
      return Fail(std::move(result), TakeFault::kNeedsPlace, {});
    // The size rule first, from the file's length: a refused file is not read at all.
    const File file(OpenFile(path, "rb"));
    const std::int64_t length = file ? LengthOf(file.get()) : -1;
    if (length < 0)
      return notRead(CannotReadText(name));
    if (const TakeFault fault = RawSizeFault(*place, static_cast<std::uint64_t>(length));
        fault != TakeFault::kNone)
      return sizeFault(fault, static_cast<std::uint64_t>(length));
    // A read that brings fewer bytes than the length gives a shorter segment.
    if (!ReadUpTo(file.get(), static_cast<std::size_t>(length), content))
      return notRead(CannotReadText(name, "read error"));
    Insert(segments, place->address, std::move(content));
    result.taken.emplace_back(place->address, place);
    return result;
  }

  std::string error;
  if (!ReadImageFile(path, content, error))
    return notRead(std::move(error));
  ParsedImage parsed;
  if (!ParseImage(content, name, parsed, error))
    return Fail(std::move(result), TakeFault::kMalformed, std::move(error));
  result.format = parsed.format;

  if (parsed.format == ImageFormat::kRaw) {
    if (place == nullptr)
      return Fail(std::move(result), TakeFault::kNeedsPlace, {});
    if (content.size() > static_cast<std::size_t>(INT32_MAX))
      return notRead(CannotReadText(name, "too large"));
    if (const TakeFault fault = RawSizeFault(*place, content.size()); fault != TakeFault::kNone)
      return sizeFault(fault, content.size());
    Insert(segments, place->address, std::move(content));
    result.taken.emplace_back(place->address, place);
    return result;
  }

  // Addressed data: every run checked before any goes into the list.
  std::vector<const ImagePlace*> chosen;
  PlacementError placement;
  if (place != nullptr) {
    if (!CheckPlacement(*place, parsed.runs, name, placement))
      return FromPlacement(std::move(result), placement);
    chosen.assign(parsed.runs.size(), place);
  } else if (!PlaceByAddress(table, parsed.runs, name, chosen, placement)) {
    return FromPlacement(std::move(result), placement);
  }
  for (std::size_t i = 0; i < parsed.runs.size(); ++i) {
    result.taken.emplace_back(parsed.runs[i].address, chosen[i]);
    Insert(segments, parsed.runs[i].address, std::move(parsed.runs[i].bytes));
  }
  return result;
}

}  // namespace vantor::device
