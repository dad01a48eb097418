// Image files taken into the device's areas and slots, once for every tool: the one reader of
// image files, the format told from the content, where the data goes, the place's size rule and
// the text of each fault. Quorix, Pelion and the command-line tool all take files through here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "device/image_formats.h"
#include "device/image_placement.h"
#include "protocol/segments.h"

namespace vantor::device {

// Reads the whole file at `path` into `content`. False with `error` = "cannot read PATH" (with
// ": read error" when reading failed part way).
bool ReadImageFile(const std::filesystem::path& path, std::vector<std::uint8_t>& content,
                   std::string& error);

// How a file's content is taken.
enum class ImageFormats {
  kRaw,     // every file is raw bytes for the place (the programs)
  kDetect,  // Intel HEX, S-record and ELF by their content, else raw (the command-line tool)
};

enum class TakeFault {
  kNone,
  kNotRead,         // the file cannot be opened or read
  kMalformed,       // an addressed file that does not parse
  kNeedsPlace,      // a raw file given without a place
  kOutside,         // addressed data outside the place (or in no place)
  kTooLarge,        // above an "up to" place's size: "잘못된 파일입니다."
  kWrongBlockSize,  // not an "exactly" place's size: "Wrong Block Size"
};

struct TakenImage {
  TakeFault fault = TakeFault::kNone;
  ImageFormat format = ImageFormat::kRaw;
  // The programs' box text of a size fault (kWrongFileText or kWrongBlockSizeText), else empty.
  std::string text;
  // What is wrong, naming the file (and the place): what the command-line tool adds.
  std::string detail;
  // Every segment put into the list: its address and the place it went to.
  std::vector<std::pair<std::uint32_t, const ImagePlace*>> taken;

  bool ok() const { return fault == TakeFault::kNone; }
  // The whole message: `text` and `detail` on two lines, or the one that is there.
  std::string Message() const;
};

// Takes the file at `path` into `segments`, one segment per address (a later one replacing an
// earlier one at its address), or leaves them as they were and says why:
// - into `place`: a raw file goes whole to the place's address under its size rule (up to:
//   "잘못된 파일입니다." above it; exactly: "Wrong Block Size" otherwise; any size); an addressed
//   file (with kDetect) keeps its addresses, which must lie in the place under its size rule;
// - with `place` null: each run of an addressed file goes to the place of `table` holding its
//   first byte (see PlaceByAddress); a raw file gives kNeedsPlace.
// A file that cannot be read also takes the place's earlier segment out of `segments`: the list
// then holds nothing for a place whose file was not taken, never an older file's bytes.
TakenImage TakeImageFile(const PlaceTable& table, const ImagePlace* place,
                         const std::filesystem::path& path, ImageFormats formats,
                         protocol::SegmentList& segments);

}  // namespace vantor::device
