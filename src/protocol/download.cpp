// The block download session: the opening command, then per segment the start command, the wait
// for the capability and ready frames, the data frames with their status replies and the end frame.
#include "protocol/download.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <vector>

#include "serial/debug_output.h"

namespace vantor::protocol {

namespace {

// A capability frame must carry W at offset 8.
constexpr std::size_t kCapabilityMinimum = 12;
// W must leave room for payload after the 20 bytes of a data frame's header, address, crc, flags.
constexpr std::uint32_t kMinFrameWords = 6;

// Receives a status reply where one is due. 0 with `status`/`reference` set; `shortCode` when the
// reply is shorter than 16 bytes (it carries no status); a receive failure r as r - 10000 (a
// reply longer than 16 bytes gives 1 - 10000 = DL_ERR_TOO_LONG).
std::int32_t ReceiveStatus(TransferContext& context, std::chrono::milliseconds silence,
                           std::int32_t shortCode, std::uint32_t& reference,
                           std::uint32_t& status) {
  std::array<std::uint8_t, kStatusReplySize> reply{};
  std::uint32_t size = static_cast<std::uint32_t>(reply.size());
  const std::int32_t r =
      ReceiveFrame(context.link, context.receiver, reply.data(), size, silence,
                   std::chrono::steady_clock::time_point::max(), kStatusReplySize);
  if (r == 0 || r == 1)
    context.lineBytes += context.receiver.rxFrameLength;
  if (r != 0)
    return r + DL_ERR_IO_BASE;
  if (size < kStatusReplySize)
    return shortCode;
  reference = GetU32(&reply[8]);
  status = GetU32(&reply[12]);
  return 0;
}

void TraceBytesLeft(std::int32_t remaining, std::uint32_t blockAddress) {
  char line[64];
  std::snprintf(line, sizeof line, "%i bytes left for block @%08x\n", remaining, blockAddress);
  serial::DebugOutput(line);
}

}  // namespace

void ReportProgress(const TransferContext& context) {
  if (context.progress == nullptr || context.totalBytes <= 0)
    return;
  // The product in 64 bits: done x 100 overflows 32 bits above about 21 MB.
  const std::int64_t percent = context.doneBytes * 100 / context.totalBytes;
  context.progress(context.userData, static_cast<std::int32_t>(percent));
}

std::int32_t DownloadSegment(TransferContext& context, const Segment& segment,
                             std::uint32_t downloadFlags) {
  std::int32_t r = SendCommand(context.link, CMD_START_SEGMENT, 1);
  if (r != 0)
    return r + DL_ERR_IO_BASE;
  context.lineBytes += kHeaderSize;

  // Wait phase: any frames; capability frames are recorded, the ready frame ends it. The phase as a
  // whole is bounded: a line that keeps sending other frames cannot hold it open.
  const auto waitPhaseEnd = std::chrono::steady_clock::now() + context.waitPhaseTimeout;
  std::array<std::uint8_t, kCapabilityBlockSize> capability{};
  std::size_t capabilityLength = 0;
  for (;;) {
    if (std::chrono::steady_clock::now() >= waitPhaseEnd)
      return serial::kErrorTimeout + DL_ERR_IO_BASE;
    std::array<std::uint8_t, kHeaderSize> header{};
    std::uint32_t size = static_cast<std::uint32_t>(header.size());
    r = ReceiveFrame(context.link, context.receiver, header.data(), size, context.replyTimeout,
                     waitPhaseEnd);
    if (r != 0 && r != 1)
      return r + DL_ERR_IO_BASE;
    context.lineBytes += context.receiver.rxFrameLength;
    const std::uint16_t code = GetU16(&header[2]);
    if (code == kFrameReady)
      break;
    if (code == kFrameCapability) {
      capabilityLength = std::min<std::size_t>(
          static_cast<std::size_t>(context.receiver.rxFrameLength), kCapabilityBlockSize);
      capability.fill(0);
      std::copy_n(context.receiver.rxBuffer.begin(), capabilityLength, capability.begin());
      if (context.receiver.rxFrameLength > static_cast<std::int32_t>(kCapabilityBlockSize)) {
        return DL_ERR_TOO_LONG;
      }
    }
  }

  std::uint32_t reference = 0;
  std::uint32_t status = 0;
  r = ReceiveStatus(context, context.replyTimeout, DL_ERR_NOT_READY, reference, status);
  if (r != 0)
    return r;
  if (status != STATUS_READY)
    return DL_ERR_NOT_READY;

  if (capabilityLength < kCapabilityMinimum)
    return DL_ERR_NO_CAPABILITY;
  const std::uint32_t frameWords = GetU32(&capability[8]);
  if (frameWords < kMinFrameWords || frameWords > kMaxFrameWords)
    return DL_ERR_NO_CAPABILITY;

  // One buffer per segment, reused by every data frame.
  std::vector<std::uint8_t> frame(4 * static_cast<std::size_t>(frameWords), 0);
  const auto payloadMax = static_cast<std::size_t>(PayloadPerFrame(frameWords));
  std::uint16_t lengthWords = static_cast<std::uint16_t>(frameWords - 2);
  std::uint32_t address = segment.address;
  std::size_t source = 0;
  // A length beyond the data it owns is never read past.
  std::size_t remaining =
      std::min(static_cast<std::size_t>(std::max(segment.length, 0)), segment.data.size());

  while (remaining != 0) {
    std::size_t len = payloadMax;
    if (remaining < payloadMax) {
      len = remaining;
      lengthWords = DataFrameLengthWords(remaining);
    }
    const std::size_t frameBytes =
        EncodeDataFrame(frame.data(), lengthWords, address,
                        std::span(segment.data).subspan(source, len), downloadFlags);
    std::int32_t count = static_cast<std::int32_t>(frameBytes);
    r = SendBuffer(context.link, frame.data(), count);
    if (r != 0)
      return r + DL_ERR_IO_BASE;
    context.lineBytes += count;

    r = ReceiveStatus(context, context.replyTimeout, DL_ERR_REFUSED, reference, status);
    if (r != 0)
      return r;
    if (status == STATUS_REFUSED_2)
      return DL_ERR_REFUSED_2;
    if (status == STATUS_REFUSED_5)
      return DL_ERR_REFUSED_5;
    if (status != STATUS_OK)
      return DL_ERR_REFUSED;

    context.doneBytes += static_cast<std::int64_t>(len);
    address += static_cast<std::uint32_t>(len);
    source += len;
    remaining -= len;
    ReportProgress(context);
    TraceBytesLeft(static_cast<std::int32_t>(remaining), segment.address);
  }

  const auto end = EndFrame();
  std::int32_t count = static_cast<std::int32_t>(end.size());
  r = SendBuffer(context.link, end.data(), count);
  if (r != 0)
    return r + DL_ERR_IO_BASE;
  context.lineBytes += count;
  r = ReceiveStatus(context, context.endReplyTimeout, DL_ERR_REFUSED, reference, status);
  if (r != 0)
    return r;
  if ((status == STATUS_END_9 || status == STATUS_END_10) && reference == kEndReference)
    return 0;
  return DL_ERR_REFUSED;
}

std::int32_t DownloadSegments(const SegmentList& segments, TransferContext& context,
                              ProgressCallback progress, void* userData,
                              std::uint32_t downloadFlags) {
  context.lineBytes = 0;
  const std::int32_t r = SendCommand(context.link, CMD_OPEN_SESSION, downloadFlags);
  if (r != 0)
    return r;
  context.lineBytes += kHeaderSize;
  context.progress = progress;
  context.userData = userData;
  context.totalBytes = segments.TotalBytes();
  context.doneBytes = 0;
  for (const Segment& segment : segments) {
    const std::int32_t result = DownloadSegment(context, segment, downloadFlags);
    if (result != 0)
      return result;
  }
  return 0;
}

}  // namespace vantor::protocol
