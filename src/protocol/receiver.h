// ReceiveFrame: assembles one DeviceFrame from the port's non-waiting reads (the 8-byte header,
// then the body its `length` announces), never reading past the current frame, into a Receiver
// that keeps the whole last frame after every receive. The Receiver belongs to whoever runs the
// session on one port (the download's TransferContext, a flow, a test): one receive at a time each.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "protocol/frames.h"

namespace vantor::protocol {

inline constexpr std::size_t kRxBufferSize = 256;

// The receiver's state for one port's session.
struct Receiver {
  Receiver() = default;
  // rxHeader points into this receiver's own rxBuffer: a copy would point into the original.
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // The frame being received; after a receive it holds the last frame (its first 256 bytes).
  std::array<std::uint8_t, kRxBufferSize> rxBuffer{};
  // Bytes of the current frame received so far.
  std::uint32_t rxCount = 0;
  // Full length of the last frame (8 + 4 x length, or 8 for a short frame); valid after 0 or 1.
  std::int32_t rxFrameLength = 0;
  // Null until the 8 header bytes are in.
  const std::uint8_t* rxHeader = nullptr;
};

// How long a frame may stay incomplete with nothing arriving on the line.
inline constexpr std::chrono::milliseconds kFrameSilenceTimeout{5000};
// The reply to an end frame may take longer: the device is writing its memory.
inline constexpr std::chrono::milliseconds kEndReplyTimeout{30000};

// Receives one frame through `receiver` into `destination`; `size` is the room on entry, the bytes
// copied on return. 0: whole frame copied. 1: the frame is longer than the room; `size` bytes
// copied, the frame was read off the line whole and rxBuffer/rxFrameLength describe it (a frame
// longer than the 256-byte buffer is still read off whole; the buffer keeps its first 256 bytes).
// Otherwise the system error code of a failed read or wait (kErrorCancelled when the port's cancel
// token ends the wait), or kErrorTimeout when the frame did not complete within `silence` of the
// line going quiet, or when its announced rest cannot arrive at the line's rate by `deadline` (a
// chattering line cannot hold a bounded phase open); `size` is then 0.
// `expected`, when the caller knows the reply's length (a status reply), lets the wait for a frame
// whose header is still incomplete last until that many bytes can have arrived, instead of waking
// once for the header and once more for the body. The header's own length still decides the frame.
std::int32_t ReceiveFrame(
    BootLink& link, Receiver& receiver, std::uint8_t* destination, std::uint32_t& size,
    std::chrono::milliseconds silence = kFrameSilenceTimeout,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max(),
    std::uint32_t expected = 0);

}  // namespace vantor::protocol
