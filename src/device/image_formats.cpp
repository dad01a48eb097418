// The Intel HEX, S-record and ELF readers, the two text writers and the read-back file names.
#include "device/image_formats.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "device/files.h"
#include "device/texts.h"
#include "protocol/text_commands.h"

namespace vantor::device {

namespace {

constexpr std::uint64_t kAddressLimit = std::uint64_t{1} << 32;

// Data as a reader found it, with where it came from (a line, or an ELF program header's offset).
struct Chunk {
  std::uint64_t address = 0;
  std::vector<std::uint8_t> bytes;
  std::uint64_t where = 0;
};

// Builds "<file>: line <n>: " or "<file>: offset 0x<x>: " prefixes.
struct Locator {
  std::string_view file;
  bool offsets = false;  // ELF: byte offsets instead of line numbers
  std::string At(std::uint64_t where) const {
    return std::string(file) +
           (offsets ? ": offset " + Hex(where, 1) : ": line " + std::to_string(where)) + ": ";
  }
};

// Sorts the chunks by address and joins touching ones into runs. Overlaps must repeat the bytes
// already there: a reader never decides which of two different values is meant.
bool BuildRuns(std::vector<Chunk> chunks, const Locator& at, std::vector<ImageRun>& runs,
               std::string& error) {
  runs.clear();
  std::stable_sort(chunks.begin(), chunks.end(),
                   [](const Chunk& a, const Chunk& b) { return a.address < b.address; });
  for (Chunk& c : chunks) {
    if (c.bytes.empty())
      continue;
    if (runs.empty() || c.address > runs.back().end()) {
      runs.push_back({static_cast<std::uint32_t>(c.address), std::move(c.bytes)});
      continue;
    }
    ImageRun& run = runs.back();
    const std::uint64_t overlapEnd = std::min(run.end(), c.address + c.bytes.size());
    for (std::uint64_t a = c.address; a < overlapEnd; ++a) {
      const std::uint8_t before = run.bytes[a - run.address];
      const std::uint8_t now = c.bytes[a - c.address];
      if (before != now) {
        error = at.At(c.where) + "overlapping data: " + Hex(now, 2) + " at " + Hex(a) +
                " where other data gives " + Hex(before, 2);
        return false;
      }
    }
    if (c.address + c.bytes.size() > run.end())
      run.bytes.insert(run.bytes.end(), c.bytes.begin() + (run.end() - c.address), c.bytes.end());
  }
  if (runs.empty()) {
    error = std::string(at.file) + ": no data";
    return false;
  }
  return true;
}

bool IsBlank(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The lines of a text file, numbered from 1, without their line ends and outer blanks.
class Lines {
 public:
  explicit Lines(std::span<const std::uint8_t> content) : m_content(content) {}
  // False at the end of the file.
  bool Next(std::string_view& line, std::size_t& number) {
    if (m_pos >= m_content.size())
      return false;
    std::size_t end = m_pos;
    while (end < m_content.size() && m_content[end] != '\n')
      ++end;
    std::size_t first = m_pos;
    std::size_t last = end;
    while (first < last && IsBlank(m_content[first]))
      ++first;
    while (last > first && IsBlank(m_content[last - 1]))
      --last;
    line = std::string_view(reinterpret_cast<const char*>(m_content.data()) + first, last - first);
    number = ++m_number;
    m_pos = end + 1;
    return true;
  }

 private:
  std::span<const std::uint8_t> m_content;
  std::size_t m_pos = 0;
  std::size_t m_number = 0;
};

// Decodes the hex digits of a record (after its marker). False with `reason` when they are not
// an even number of hex digits.
bool DecodeHex(std::string_view digits, std::vector<std::uint8_t>& bytes, std::string& reason) {
  bytes.clear();
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (protocol::HexDigit(digits[i]) < 0) {
      const auto c = static_cast<unsigned char>(digits[i]);
      reason = "malformed record: " +
               (c >= 0x20 && c < 0x7F ? "'" + std::string(1, digits[i]) + "'" : Hex(c, 2)) +
               " is not a hex digit";
      return false;
    }
  }
  if (digits.size() % 2 != 0) {
    reason = "malformed record: an odd number of hex digits";
    return false;
  }
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(protocol::HexDigit(digits[i]) * 16 +
                                              protocol::HexDigit(digits[i + 1])));
  }
  return true;
}

// After the end record only blank lines (and a DOS end-of-file mark) may follow.
bool OnlyBlankAfter(Lines& lines, const Locator& at, std::string& error) {
  std::string_view line;
  std::size_t number = 0;
  while (lines.Next(line, number)) {
    if (!line.empty() && line != "\x1a") {
      error = at.At(number) + "data after the end record";
      return false;
    }
  }
  return true;
}

bool StartsAsRecord(std::string_view line, char marker, std::size_t skip, std::size_t minimum) {
  if (line.size() < minimum || line[0] != marker)
    return false;
  if (marker == 'S' && (line[1] < '0' || line[1] > '9'))
    return false;
  return std::all_of(line.begin() + static_cast<std::ptrdiff_t>(skip), line.end(),
                     [](char c) { return protocol::HexDigit(c) >= 0; });
}

std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t b : bytes)
    value = value << 8 | b;
  return value;
}

// ELF fields in the file's byte order.
struct ElfReader {
  std::span<const std::uint8_t> content;
  bool bigEndian = false;
  std::uint64_t Get(std::uint64_t offset, int size) const {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
      const std::uint64_t byte = content[offset + static_cast<std::uint64_t>(i)];
      value |= bigEndian ? byte << (8 * (size - 1 - i)) : byte << (8 * i);
    }
    return value;
  }
};

void AppendHexByte(std::string& text, std::uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  text += kDigits[value >> 4];
  text += kDigits[value & 0xF];
}

// One text record: `marker`, then the bytes in hex; `checksum` is the record's own.
void AppendRecord(std::string& text, std::string_view marker, std::span<const std::uint8_t> bytes,
                  std::uint8_t checksum) {
  text += marker;
  for (std::uint8_t b : bytes)
    AppendHexByte(text, b);
  AppendHexByte(text, checksum);
  text += '\n';
}

std::uint8_t ByteSum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes)
    sum = static_cast<std::uint8_t>(sum + b);
  return sum;
}

void AppendIntelHexRecord(std::string& text, std::uint8_t type, std::uint16_t offset,
                          std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> record{static_cast<std::uint8_t>(data.size()),
                                   static_cast<std::uint8_t>(offset >> 8),
                                   static_cast<std::uint8_t>(offset), type};
  record.insert(record.end(), data.begin(), data.end());
  AppendRecord(text, ":", record, static_cast<std::uint8_t>(-ByteSum(record)));
}

// An S-record with an address of `addressBytes` bytes.
void AppendSrecRecord(std::string& text, char type, std::uint32_t address, int addressBytes,
                      std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> record{
      static_cast<std::uint8_t>(addressBytes + static_cast<int>(data.size()) + 1)};
  for (int i = addressBytes - 1; i >= 0; --i)
    record.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  record.insert(record.end(), data.begin(), data.end());
  const char marker[] = {'S', type, '\0'};
  AppendRecord(text, marker, record, static_cast<std::uint8_t>(~ByteSum(record)));
}

constexpr std::size_t kBytesPerRecord = 16;

// What a text reader's record function works with: the decoded bytes, the data found so far, and
// the reason when the record is refused.
struct RecordSink {
  std::vector<std::uint8_t> bytes;
  std::vector<Chunk> chunks;
  std::size_t line = 0;
  bool ended = false;  // the end record was read
  std::string reason;

  bool Fail(std::string why) {
    reason = std::move(why);
    return false;
  }
  // The record without its checksum byte.
  std::span<const std::uint8_t> Body() const { return std::span(bytes).first(bytes.size() - 1); }
  bool Checksum(std::uint8_t expected) {
    return bytes.back() == expected || Fail("wrong checksum " + Hex(bytes.back(), 2) +
                                            " (the record needs " + Hex(expected, 2) + ")");
  }
  bool Data(std::uint64_t address, std::span<const std::uint8_t> data) {
    if (address + data.size() > kAddressLimit) {
      return Fail("address beyond 32 bits (" + Hex(address, 8) + " + " +
                  std::to_string(data.size()) + " bytes)");
    }
    chunks.push_back({address, {data.begin(), data.end()}, line});
    return true;
  }
};

// Feeds each non-blank line up to the end record to `record`, then builds the runs. A file that
// stops before its end record has lost lines.
template <typename Record>
bool ReadRecords(std::span<const std::uint8_t> content, std::string_view fileName,
                 std::string_view endRecord, const Record& record, std::vector<ImageRun>& runs,
                 std::string& error) {
  const Locator at{fileName};
  Lines lines(content);
  RecordSink sink;
  std::string_view line;
  while (!sink.ended && lines.Next(line, sink.line)) {
    if (!line.empty() && !record(line, sink)) {
      error = at.At(sink.line) + sink.reason;
      return false;
    }
  }
  if (!sink.ended) {
    error = std::string(fileName) + ": no " + std::string(endRecord) + ": the file is cut short";
    return false;
  }
  return OnlyBlankAfter(lines, at, error) && BuildRuns(std::move(sink.chunks), at, runs, error);
}

}  // namespace

ImageFormat DetectImageFormat(std::span<const std::uint8_t> content) {
  if (content.size() >= 4 && content[0] == 0x7F && content[1] == 'E' && content[2] == 'L' &&
      content[3] == 'F')
    return ImageFormat::kElf;
  Lines lines(content);
  std::string_view line;
  std::size_t number = 0;
  while (lines.Next(line, number) && line.empty()) {
  }
  // ":LLAAAATTCC" and "S0LLAAAACC" are the shortest records.
  if (StartsAsRecord(line, ':', 1, 11))
    return ImageFormat::kIntelHex;
  if (StartsAsRecord(line, 'S', 2, 10))
    return ImageFormat::kSrec;
  return ImageFormat::kRaw;
}

bool ParseIntelHex(std::span<const std::uint8_t> content, std::string_view fileName,
                   std::vector<ImageRun>& runs, std::string& error) {
  std::uint64_t base = 0;
  const auto record = [&base](std::string_view line, RecordSink& sink) {
    if (line[0] != ':')
      return sink.Fail("malformed record: it does not start with ':'");
    std::vector<std::uint8_t>& bytes = sink.bytes;
    if (!DecodeHex(line.substr(1), bytes, sink.reason))
      return false;
    if (bytes.size() < 5 || bytes.size() != std::size_t{bytes[0]} + 5) {
      return sink.Fail("malformed record: " + std::to_string(bytes.size()) +
                       " bytes where its length byte makes " +
                       std::to_string(bytes.empty() ? 5 : std::size_t{bytes[0]} + 5));
    }
    if (!sink.Checksum(static_cast<std::uint8_t>(-ByteSum(sink.Body()))))
      return false;
    const std::uint8_t count = bytes[0];
    const std::uint32_t offset = BigEndian(std::span(bytes).subspan(1, 2));
    const std::uint8_t type = bytes[3];
    const auto data = std::span(bytes).subspan(4, count);
    const auto needs = [&](std::uint8_t size) {
      return count == size ||
             sink.Fail("malformed record: type " + Hex(type, 2) + " carries " +
                       std::to_string(size) + " data bytes, not " + std::to_string(count));
    };
    switch (type) {
      case 0x00:
        if (!sink.Data(base + offset, data))
          return false;
        // Offsets wrap inside a 64 KiB segment; a record that relies on that is refused rather
        // than guessed at.
        if (offset + count > 0x10000) {
          return sink.Fail("malformed record: " + std::to_string(count) + " bytes at offset " +
                           Hex(offset, 4) + " run past the end of the 64 KiB segment");
        }
        return true;
      case 0x01:
        sink.ended = true;
        return needs(0);
      case 0x02:
        base = std::uint64_t{BigEndian(data)} << 4;
        return needs(2);
      case 0x04:
        base = std::uint64_t{BigEndian(data)} << 16;
        return needs(2);
      case 0x03:
      case 0x05:
        return needs(4);  // a start address: nothing to write
      default:
        return sink.Fail("unknown record type " + Hex(type, 2));
    }
  };
  return ReadRecords(content, fileName, "end-of-file record (type 01)", record, runs, error);
}

bool ParseSrec(std::span<const std::uint8_t> content, std::string_view fileName,
               std::vector<ImageRun>& runs, std::string& error) {
  std::uint64_t dataRecords = 0;
  const auto record = [&dataRecords](std::string_view line, RecordSink& sink) {
    if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
      return sink.Fail("malformed record: it does not start with 'S' and a digit");
    const int type = line[1] - '0';
    // Address bytes per type; 0 for the type that does not exist.
    static constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    const int addressBytes = kAddressBytes[type];
    if (addressBytes == 0)
      return sink.Fail("unknown record type S" + std::to_string(type));
    std::vector<std::uint8_t>& bytes = sink.bytes;
    if (!DecodeHex(line.substr(2), bytes, sink.reason))
      return false;
    if (bytes.size() < 2 || bytes.size() != std::size_t{bytes[0]} + 1 ||
        bytes[0] < addressBytes + 1) {
      return sink.Fail("malformed record: " + std::to_string(bytes.size()) +
                       " bytes do not match its count byte (" +
                       (bytes.empty() ? std::string("none") : std::to_string(bytes[0])) +
                       ") and its " + std::to_string(addressBytes) + "-byte address");
    }
    if (!sink.Checksum(static_cast<std::uint8_t>(~ByteSum(sink.Body()))))
      return false;
    const std::uint32_t address = BigEndian(std::span(bytes).subspan(1, addressBytes));
    const auto data = std::span(bytes).subspan(1 + static_cast<std::size_t>(addressBytes),
                                               bytes.size() - 2 - addressBytes);
    switch (type) {
      case 1:
      case 2:
      case 3:
        ++dataRecords;
        return sink.Data(address, data);
      case 5:
      case 6:
        // The count record counts the data records before it: fewer means lost lines.
        if (!data.empty() || address != dataRecords) {
          return sink.Fail("the count record says " + std::to_string(address) +
                           " data records, the file has " + std::to_string(dataRecords));
        }
        return true;
      case 7:
      case 8:
      case 9:
        sink.ended = true;
        return data.empty() || sink.Fail("malformed record: a termination record carries no data");
      default:
        return true;  // S0: the header, nothing to write
    }
  };
  return ReadRecords(content, fileName, "termination record (S7, S8 or S9)", record, runs, error);
}

bool ParseElf(std::span<const std::uint8_t> content, std::string_view fileName,
              std::vector<ImageRun>& runs, std::string& error) {
  const Locator at{fileName, true};
  const std::uint64_t size = content.size();
  if (size < 16 || content[0] != 0x7F || content[1] != 'E' || content[2] != 'L' ||
      content[3] != 'F') {
    error = at.At(0) + "not an ELF file (truncated identification)";
    return false;
  }
  const bool is64 = content[4] == 2;
  if (content[4] != 1 && !is64) {
    error = at.At(4) + "unknown ELF class " + std::to_string(content[4]);
    return false;
  }
  if (content[5] != 1 && content[5] != 2) {
    error = at.At(5) + "unknown ELF byte order " + std::to_string(content[5]);
    return false;
  }
  if (content[6] != 1) {
    error = at.At(6) + "unknown ELF version " + std::to_string(content[6]);
    return false;
  }
  const ElfReader elf{content, content[5] == 2};
  const std::uint64_t headerSize = is64 ? 64 : 52;
  if (size < headerSize) {
    error = at.At(size) + "truncated: the ELF header needs " + std::to_string(headerSize) +
            " bytes, the file has " + std::to_string(size);
    return false;
  }
  const std::uint64_t phoff = is64 ? elf.Get(32, 8) : elf.Get(28, 4);
  const std::uint64_t entrySize = elf.Get(is64 ? 54 : 42, 2);
  const std::uint64_t entries = elf.Get(is64 ? 56 : 44, 2);
  const std::uint64_t minimumEntry = is64 ? 56 : 32;
  if (entries == 0xFFFF) {
    error = at.At(is64 ? 56 : 44) + "more program headers than the header can count (65535)";
    return false;
  }
  if (entries > 0 && entrySize < minimumEntry) {
    error = at.At(is64 ? 54 : 42) + "inconsistent ELF: program headers of " +
            std::to_string(entrySize) + " bytes, at least " + std::to_string(minimumEntry) +
            " needed";
    return false;
  }
  if (entries > 0 && (phoff > size || (size - phoff) / entrySize < entries)) {
    error = at.At(phoff) + "truncated: " + std::to_string(entries) +
            " program headers run past the end of the file (" + std::to_string(size) + " bytes)";
    return false;
  }
  std::vector<Chunk> chunks;
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint64_t entry = phoff + i * entrySize;
    constexpr std::uint64_t kLoad = 1;
    if (elf.Get(entry, 4) != kLoad)
      continue;
    const std::uint64_t offset = is64 ? elf.Get(entry + 8, 8) : elf.Get(entry + 4, 4);
    const std::uint64_t paddr = is64 ? elf.Get(entry + 24, 8) : elf.Get(entry + 12, 4);
    const std::uint64_t filesz = is64 ? elf.Get(entry + 32, 8) : elf.Get(entry + 16, 4);
    const std::uint64_t memsz = is64 ? elf.Get(entry + 40, 8) : elf.Get(entry + 20, 4);
    if (filesz == 0)
      continue;
    if (filesz > memsz) {
      error = at.At(entry) + "inconsistent ELF: a loadable segment has " + std::to_string(filesz) +
              " file bytes but " + std::to_string(memsz) + " bytes in memory";
      return false;
    }
    if (offset > size || size - offset < filesz) {
      error = at.At(entry) + "truncated: a loadable segment's " + std::to_string(filesz) +
              " bytes at offset " + Hex(offset, 1) + " run past the end of the file (" +
              std::to_string(size) + " bytes)";
      return false;
    }
    if (paddr >= kAddressLimit || kAddressLimit - paddr < filesz) {
      error = at.At(entry) + "address beyond 32 bits (" + Hex(paddr, 8) + " + " +
              std::to_string(filesz) + " bytes)";
      return false;
    }
    const auto bytes = content.subspan(offset, filesz);
    chunks.push_back({paddr, {bytes.begin(), bytes.end()}, entry});
  }
  return BuildRuns(std::move(chunks), at, runs, error);
}

bool ParseImage(std::span<const std::uint8_t> content, std::string_view fileName,
                ParsedImage& image, std::string& error) {
  image.format = DetectImageFormat(content);
  image.runs.clear();
  switch (image.format) {
    case ImageFormat::kIntelHex:
      return ParseIntelHex(content, fileName, image.runs, error);
    case ImageFormat::kSrec:
      return ParseSrec(content, fileName, image.runs, error);
    case ImageFormat::kElf:
      return ParseElf(content, fileName, image.runs, error);
    case ImageFormat::kRaw:
      break;
  }
  return true;
}

std::string FormatIntelHex(std::uint32_t address, std::span<const std::uint8_t> data) {
  std::string text;
  std::uint64_t upper = kAddressLimit;  // none written yet
  std::size_t done = 0;
  while (done < data.size()) {
    const std::uint64_t at = std::uint64_t{address} + done;
    if ((at >> 16) != upper) {
      upper = at >> 16;
      const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8),
                                     static_cast<std::uint8_t>(upper)};
      AppendIntelHexRecord(text, 0x04, 0, value);
    }
    // A record never crosses a 64 KiB boundary.
    const std::size_t room = 0x10000 - static_cast<std::size_t>(at & 0xFFFF);
    const std::size_t n = std::min({kBytesPerRecord, data.size() - done, room});
    AppendIntelHexRecord(text, 0x00, static_cast<std::uint16_t>(at), data.subspan(done, n));
    done += n;
  }
  AppendIntelHexRecord(text, 0x01, 0, {});
  return text;
}

std::string FormatSrec(std::uint32_t address, std::span<const std::uint8_t> data) {
  std::string text;
  const bool wide = std::uint64_t{address} + data.size() > 0x1000000;
  const int addressBytes = wide ? 4 : 3;
  static constexpr std::uint8_t kHeader[] = {'v', 'a', 'n', 't', 'o', 'r'};
  AppendSrecRecord(text, '0', 0, 2, kHeader);
  std::uint32_t records = 0;
  for (std::size_t done = 0; done < data.size(); done += kBytesPerRecord) {
    const std::size_t n = std::min(kBytesPerRecord, data.size() - done);
    AppendSrecRecord(text, wide ? '3' : '2', address + static_cast<std::uint32_t>(done),
                     addressBytes, data.subspan(done, n));
    ++records;
  }
  if (records <= 0xFFFF)
    AppendSrecRecord(text, '5', records, 2, {});
  else if (records <= 0xFFFFFF)
    AppendSrecRecord(text, '6', records, 3, {});
  AppendSrecRecord(text, wide ? '7' : '8', 0, addressBytes, {});
  return text;
}

bool ParseSaveFormat(std::string_view name, SaveFormat& format) {
  if (name == "bin")
    format = SaveFormat::kBin;
  else if (name == "hex")
    format = SaveFormat::kIntelHex;
  else if (name == "srec")
    format = SaveFormat::kSrec;
  else
    return false;
  return true;
}

std::string SaveFileName(std::uint32_t address, SaveFormat format) {
  std::filesystem::path name = ReadBackFileName(address);
  if (format == SaveFormat::kIntelHex)
    name.replace_extension(".hex");
  else if (format == SaveFormat::kSrec)
    name.replace_extension(".srec");
  return name.string();
}

std::vector<std::uint8_t> EncodeSaved(std::uint32_t address, std::span<const std::uint8_t> data,
                                      SaveFormat format) {
  if (format == SaveFormat::kBin)
    return {data.begin(), data.end()};
  const std::string text =
      format == SaveFormat::kIntelHex ? FormatIntelHex(address, data) : FormatSrec(address, data);
  return {text.begin(), text.end()};
}

}  // namespace vantor::device
