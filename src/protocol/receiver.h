// ReceiveFrame: assembles one DeviceFrame from the port's non-waiting reads (the 8-byte header,
// then the body its `length` announces), never reading past the current frame. The state below
// keeps the whole last frame after every receive; each thread has its own (the several-port
// workers receive at once), one receive at a time per thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "protocol/frames.h"

namespace vantor {

inline constexpr std::size_t kRxBufferSize = 256;

// The frame being received; after a receive it holds the last frame (its first 256 bytes).
extern thread_local std::array<std::uint8_t, kRxBufferSize> g_rxBuffer;
// Bytes of the current frame received so far.
extern thread_local std::uint32_t g_rxCount;
// Full length of the last frame (8 + 4 x length, or 8 for a short frame); valid after 0 or 1.
extern thread_local std::int32_t g_rxFrameLength;
// Null until the 8 header bytes are in.
extern thread_local const std::uint8_t* g_rxHeader;

// How long a frame may stay incomplete with nothing arriving on the line.
inline constexpr std::chrono::milliseconds kFrameSilenceTimeout{5000};
// The reply to an end frame may take longer: the device is writing its memory.
inline constexpr std::chrono::milliseconds kEndReplyTimeout{30000};

// Receives one frame into `destination`; `size` is the room on entry, the bytes copied on return.
// 0: whole frame copied. 1: the frame is longer than the room; `size` bytes copied, the frame was
// read off the line whole and g_rxBuffer/g_rxFrameLength describe it (a frame longer than the
// 256-byte buffer is still read off whole; the buffer keeps its first 256 bytes).
// Otherwise the system error code of a failed read or wait (kErrorCancelled when the port's cancel
// token ends the wait), or kErrorTimeout when the frame did not complete within `silence` of the
// line going quiet, or when its announced rest cannot arrive at the line's rate by `deadline` (a
// chattering line cannot hold a bounded phase open); `size` is then 0.
// `expected`, when the caller knows the reply's length (a status reply), lets the wait for a frame
// whose header is still incomplete last until that many bytes can have arrived, instead of waking
// once for the header and once more for the body. The header's own length still decides the frame.
std::int32_t ReceiveFrame(
    BootLink& link, std::uint8_t* destination, std::uint32_t& size,
    std::chrono::milliseconds silence = kFrameSilenceTimeout,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max(),
    std::uint32_t expected = 0);

}  // namespace vantor
