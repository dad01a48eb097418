// Frame layouts, CRC-32 and the two frame writers.
#include "protocol/frames.h"

#include <chrono>

#include <algorithm>
#include <mutex>

namespace vantor::protocol {

std::array<std::uint32_t, 256> g_crcTable{};
std::atomic<bool> g_crcTableDirty{true};

namespace {
constexpr std::uint32_t kCrcPolynomial = 0x04C11DB7;
}

std::array<std::uint8_t, kHeaderSize> CommandFrame::Encode() const {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  PutU16(&bytes[0], kind);
  PutU16(&bytes[2], code);
  PutU32(&bytes[4], argument);
  return bytes;
}

CommandFrame CommandFrame::Decode(const std::uint8_t* bytes) {
  return CommandFrame{GetU16(bytes), GetU16(bytes + 2), GetU32(bytes + 4)};
}

std::array<std::uint8_t, kHeaderSize> EndFrame() {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  PutU16(&bytes[0], kBootFrameMagic);
  PutU16(&bytes[2], kBootFrameEnd);
  return bytes;
}

void BuildCrcTable() {
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i << 24;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 0x80000000u) ? (value << 1) ^ kCrcPolynomial : value << 1;
    }
    g_crcTable[i] = value;
  }
}

void EnsureCrcTable() {
  // The device simulator may run a CRC on another thread of the same process: build once.
  static std::once_flag built;
  if (g_crcTableDirty.load(std::memory_order_acquire)) {
    std::call_once(built, [] {
      BuildCrcTable();
      g_crcTableDirty.store(false, std::memory_order_release);
    });
  }
}

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    crc = (crc << 8) ^ g_crcTable[((crc >> 24) ^ bytes[i]) & 0xFF];
  }
  return crc;
}

std::uint32_t DataFrameCrc(const std::uint8_t* frame, std::size_t len) {
  EnsureCrcTable();
  std::uint32_t crc = Crc32Update(0, frame, 12);
  EnsureCrcTable();
  return Crc32Update(crc, frame + 16, len + 4);
}

std::size_t EncodeDataFrame(std::uint8_t* frame, std::uint16_t lengthWords, std::uint32_t address,
                            std::span<const std::uint8_t> payload, std::uint32_t downloadFlags) {
  const std::size_t len = payload.size();
  const std::size_t pad = PadBytes(len);
  PutU16(frame + 0, kBootFrameMagic);
  PutU16(frame + 2, kBootFrameData);
  PutU16(frame + 4, lengthWords);
  PutU16(frame + 6, 0);
  PutU32(frame + 8, address);
  PutU32(frame + 16, (downloadFlags & 1u) | static_cast<std::uint32_t>(pad << 1));
  std::copy(payload.begin(), payload.end(), frame + kPayloadOffset);
  std::fill_n(frame + kPayloadOffset + len, pad, 0);
  PutU32(frame + 12, DataFrameCrc(frame, len));
  return kPayloadOffset + len + pad;
}

std::int32_t SendBuffer(BootLink& link, const std::uint8_t* data, std::int32_t& count) {
  const std::int32_t total = count;
  count = 0;
  while (count < total) {
    std::uint32_t chunk = static_cast<std::uint32_t>(total - count);
    const std::int32_t result = link.port->Write(data + count, chunk);
    if (result != 0)
      return result;
    if (chunk == 0) {
      // The driver's output buffer is full: wait until it takes bytes again instead of retrying
      // at once. A line that takes nothing for the silence bound counts as a time-out.
      const auto since = std::chrono::steady_clock::now();
      const std::int32_t waited = link.port->WaitWritable(kWriteStallTimeout);
      if (waited != 0)
        return waited;
      if (std::chrono::steady_clock::now() - since >= kWriteStallTimeout)
        return serial::kErrorTimeout;
      continue;
    }
    count += static_cast<std::int32_t>(chunk);
  }
  return 0;
}

std::int32_t SendCommand(BootLink& link, std::uint16_t code, std::uint32_t argument) {
  const auto bytes = CommandFrame{kKindCommand, code, argument}.Encode();
  std::int32_t count = static_cast<std::int32_t>(bytes.size());
  return SendBuffer(link, bytes.data(), count);
}

}  // namespace vantor::protocol
