// Image files as build systems write them: Intel HEX, Motorola S-record and ELF read into runs of
// bytes at their absolute addresses, and read-back memory written as Intel HEX or S-record. The
// format is told from the content, never from the file name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::device {

// One contiguous run of bytes at its absolute address (never empty).
struct ImageRun {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
  std::uint64_t end() const { return std::uint64_t{address} + bytes.size(); }
};

enum class ImageFormat {
  kRaw,       // no addresses of its own: the caller says where it goes
  kIntelHex,  // record types 00..05; start records are read and ignored
  kSrec,      // S0..S3, S5..S9; the count record is checked
  kElf,       // 32/64-bit, either byte order: PT_LOAD file bytes at their physical addresses
};

// The format `content` is in: ELF by its magic number; Intel HEX or S-record when its first
// non-blank line looks like one of their records (marker, then hex digits only); raw otherwise.
ImageFormat DetectImageFormat(std::span<const std::uint8_t> content);

// A parsed image: runs in ascending address order, none empty, none touching or overlapping the
// next (adjacent data is one run; gaps stay gaps, never filled).
struct ParsedImage {
  ImageFormat format = ImageFormat::kRaw;
  std::vector<ImageRun> runs;  // empty for a raw file
};

// Parses `content` in the format it is in; `fileName` only names the file in messages. False
// with `error` = "<file>: line <n>: <reason>" (ELF: "<file>: offset 0x<x>: <reason>") for a
// malformed record, a wrong checksum, an unknown record type, overlapping data with different
// bytes, an address beyond 32 bits, a truncated or inconsistent ELF or a file with no data. The
// same bytes given twice for one address are accepted. A raw file parses to no runs.
bool ParseImage(std::span<const std::uint8_t> content, std::string_view fileName,
                ParsedImage& image, std::string& error);

// The readers themselves, for callers that know the format (the fuzz targets and tests).
bool ParseIntelHex(std::span<const std::uint8_t> content, std::string_view fileName,
                   std::vector<ImageRun>& runs, std::string& error);
bool ParseSrec(std::span<const std::uint8_t> content, std::string_view fileName,
               std::vector<ImageRun>& runs, std::string& error);
bool ParseElf(std::span<const std::uint8_t> content, std::string_view fileName,
              std::vector<ImageRun>& runs, std::string& error);

// `data` at `address` as an Intel HEX file: an extended linear address record before the first
// data record and wherever the upper 16 bits change, 16 data bytes a record, the end-of-file
// record; LF line ends.
std::string FormatIntelHex(std::uint32_t address, std::span<const std::uint8_t> data);
// `data` at `address` as an S-record file: an S0 header, S2 records (S3 when an address needs 32
// bits) of 16 data bytes, the S5/S6 count record and the matching S8 (S7) termination.
std::string FormatSrec(std::uint32_t address, std::span<const std::uint8_t> data);

// How read-back memory is saved: the programs' raw file, or a file that carries its address.
enum class SaveFormat { kBin, kIntelHex, kSrec };
// "bin", "hex" or "srec"; false for anything else.
bool ParseSaveFormat(std::string_view name, SaveFormat& format);
// "vantor.%06x.bin", ".hex" or ".srec".
std::string SaveFileName(std::uint32_t address, SaveFormat format);
// The file's bytes for `data` read back from `address`.
std::vector<std::uint8_t> EncodeSaved(std::uint32_t address, std::span<const std::uint8_t> data,
                                      SaveFormat format);

}  // namespace vantor::device
