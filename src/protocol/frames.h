// The binary frames of the bootloader protocol, their codes and status values, the CRC-32 of a
// data frame, and the two frame writers (SendCommand, SendBuffer). All multi-byte fields are
// little-endian and are written and read byte by byte; lengths inside frames count 32-bit words.
//
// CommandFrame (host -> device, 8 bytes): u16 kind, u16 code, u32 argument.
// BootFrame (host -> device): u16 magic 0xF00D, u16 code (1 data, 2 end), u16 length (words after
//   the 8-byte header), u16 reserved 0; data frames go on with u32 address, u32 crc, u32 flags,
//   the payload and 0..3 zero pad bytes.
// DeviceFrame (device -> host): 8-byte header, first byte '@' marks a short 8-byte frame, u16 code
//   at offset 2, u16 length at offset 4; a status reply carries u32 reference at offset 8 and u32
//   status at offset 12.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/serial_port.h"

namespace vantor::protocol {

// The protocol's handle on an open port; it never owns or closes the port.
struct BootLink {
  serial::SerialPort* port = nullptr;
};

// Command codes of a CommandFrame.
inline constexpr std::uint16_t CMD_OPEN_SESSION = 0x000E;
inline constexpr std::uint16_t CMD_START_SEGMENT = 0xF000;
inline constexpr std::uint16_t CMD_GET_VERSION = 0x000F;
inline constexpr std::uint16_t kKindCommand = 1;
inline constexpr std::uint16_t kKindVersionQuery = 0;

// BootFrame fields.
inline constexpr std::uint16_t kBootFrameMagic = 0xF00D;
inline constexpr std::uint16_t kBootFrameData = 1;
inline constexpr std::uint16_t kBootFrameEnd = 2;
inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kDataFrameOverhead = 20;  // header, address, crc, flags
inline constexpr std::size_t kPayloadOffset = 20;

// DeviceFrame kinds.
inline constexpr std::uint8_t kShortFrameMark = 0x40;  // '@'
inline constexpr std::uint16_t kFrameReady = 1;
inline constexpr std::uint16_t kFrameCapability = 0x300B;
inline constexpr std::size_t kStatusReplySize = 16;
inline constexpr std::size_t kCapabilityBlockSize = 16;
inline constexpr std::uint32_t kEndReference = 2;

// Status values of a status reply.
inline constexpr std::uint32_t STATUS_OK = 0;
inline constexpr std::uint32_t STATUS_REFUSED_2 = 2;
inline constexpr std::uint32_t STATUS_REFUSED_5 = 5;
inline constexpr std::uint32_t STATUS_END_9 = 9;
inline constexpr std::uint32_t STATUS_END_10 = 10;
inline constexpr std::uint32_t STATUS_READY = 14;

// The download flags word for a download into the code area.
inline constexpr std::uint32_t kCodeDownloadFlags = 0x3C690000;

// Little-endian access.
inline void PutU16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

struct CommandFrame {
  std::uint16_t kind = kKindCommand;
  std::uint16_t code = 0;
  std::uint32_t argument = 0;

  std::array<std::uint8_t, kHeaderSize> Encode() const;
  static CommandFrame Decode(const std::uint8_t* bytes);
};

// The end frame: 0D F0 02 00 00 00 00 00.
std::array<std::uint8_t, kHeaderSize> EndFrame();

// Payload bytes a frame of `frameWords` words carries: P = 4W - 20.
constexpr std::int32_t PayloadPerFrame(std::uint32_t frameWords) {
  return static_cast<std::int32_t>(4 * frameWords) - static_cast<std::int32_t>(kDataFrameOverhead);
}
// The `length` field of a data frame with `len` payload bytes: 3 + (len + 3) / 4.
constexpr std::uint16_t DataFrameLengthWords(std::size_t len) {
  return static_cast<std::uint16_t>(3 + (len + 3) / 4);
}
// Zero bytes that bring `len` to a multiple of 4: (-len) mod 4.
constexpr std::size_t PadBytes(std::size_t len) {
  return (4 - len % 4) % 4;
}

// CRC-32: polynomial 0x04C11DB7, MSB first, no reflection, initial 0, no final XOR.
extern std::array<std::uint32_t, 256> g_crcTable;
// Starts set; the first CRC computation of the process builds the table and clears it.
extern std::atomic<bool> g_crcTableDirty;
void BuildCrcTable();
// Builds the table when g_crcTableDirty is set (once per process, safe from any thread).
void EnsureCrcTable();
std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// The CRC of a data frame of `len` payload bytes: over bytes 0..11, then 16..19+len. The crc
// field and the pad bytes are not covered.
std::uint32_t DataFrameCrc(const std::uint8_t* frame, std::size_t len);

// Fills `frame` (at least 20 + len + pad bytes) as a data frame: header with `lengthWords`,
// address, flags (bit 0 from `downloadFlags`, bits 1-2 the pad), payload, zero pad, CRC.
// Returns the bytes to send, 20 + len + pad.
std::size_t EncodeDataFrame(std::uint8_t* frame, std::uint16_t lengthWords, std::uint32_t address,
                            std::span<const std::uint8_t> payload, std::uint32_t downloadFlags);

// Writes a CommandFrame of kind 1, repeating after partial writes. 0 or the system error code.
std::int32_t SendCommand(BootLink& link, std::uint16_t code, std::uint32_t argument);

// How long a write may find the port taking no bytes before it counts as a time-out.
inline constexpr std::chrono::milliseconds kWriteStallTimeout{5000};

// Writes `count` bytes, repeating after partial writes and waiting (never spinning) while the port
// takes none; `count` returns the bytes sent. A count of 0 or less sends nothing. 0, the first
// failed write's system error code, kErrorTimeout after kWriteStallTimeout without progress, or
// kErrorCancelled.
std::int32_t SendBuffer(BootLink& link, const std::uint8_t* data, std::int32_t& count);

}  // namespace vantor::protocol
