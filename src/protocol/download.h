// The block download session: writes a SegmentList into the device through its bootloader.
// Open-session command with the download flags word; per segment the start command, the wait for
// the capability and ready frames, CRC-protected data frames each confirmed by a status reply, and
// the end frame whose reply confirms the write. The first failure ends the session.
#pragma once

#include <chrono>
#include <cstdint>

#include "protocol/frames.h"
#include "protocol/receiver.h"
#include "protocol/segments.h"

namespace vantor::protocol {

// Called on the session's thread after every confirmed frame with done x 100 / total (0..100).
// The returned value is ignored.
using ProgressCallback = std::int32_t (*)(void* userData, std::int32_t percent);

inline constexpr std::chrono::milliseconds kWaitPhaseTimeout{5000};

struct TransferContext {
  BootLink link;
  // The session's frame receiver: after each receive it describes the last frame.
  Receiver receiver;
  ProgressCallback progress = nullptr;
  void* userData = nullptr;
  // 64-bit: no overflow at any image size.
  std::int64_t totalBytes = 0;
  std::int64_t doneBytes = 0;
  // Bytes the session moved on the line, both ways: its payload against these is the exchange's
  // own bound (payload / lineBytes x the line's bytes per second).
  std::int64_t lineBytes = 0;
  // How long the device may stay silent while a frame is due, and while the reply to an end
  // frame is due (the device is writing). Tests shorten them; the programs keep the defaults.
  std::chrono::milliseconds replyTimeout = kFrameSilenceTimeout;
  std::chrono::milliseconds endReplyTimeout = kEndReplyTimeout;
  // The whole wait phase of a segment (capability and ready frames) ends this long after the start
  // command, however many other frames arrive.
  std::chrono::milliseconds waitPhaseTimeout = kWaitPhaseTimeout;
};

// Result codes (besides 0, a positive system error code for a failed opening command, and
// system error code + DL_ERR_IO_BASE for a failed read or write inside a segment).
inline constexpr std::int32_t DL_ERR_IO_BASE = -10000;
inline constexpr std::int32_t DL_ERR_TOO_LONG = -9999;
inline constexpr std::int32_t DL_ERR_NOT_READY = -10014;
inline constexpr std::int32_t DL_ERR_REFUSED_2 = -9978;
inline constexpr std::int32_t DL_ERR_REFUSED_5 = -9979;
inline constexpr std::int32_t DL_ERR_REFUSED = -9997;
// The wait phase brought no usable capability (none, shorter than 12 bytes, or W out of range).
inline constexpr std::int32_t DL_ERR_NO_CAPABILITY = -9996;

// The largest W a frame header can carry: `length` = W - 2 is a u16.
inline constexpr std::uint32_t kMaxFrameWords = 0xFFFF + 2;

// Calls the context's callback (when set and the total is not 0) with done x 100 / total,
// truncating. Used by the download and the read-back after every confirmed piece.
void ReportProgress(const TransferContext& context);

// Runs a whole session over `segments` in list order. Empty list: only the opening command.
std::int32_t DownloadSegments(const SegmentList& segments, TransferContext& context,
                              ProgressCallback progress, void* userData,
                              std::uint32_t downloadFlags);

// Moves one segment; only bit 0 of `downloadFlags` matters here.
std::int32_t DownloadSegment(TransferContext& context, const Segment& segment,
                             std::uint32_t downloadFlags);

}  // namespace vantor::protocol
