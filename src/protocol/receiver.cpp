// The frame receiver: header, then the announced body, read with non-waiting reads and waits that
// block until the line has input or, once a frame has begun, until its rest can have arrived.
#include "protocol/receiver.h"

#include <algorithm>
#include <cstring>

namespace vantor::protocol {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::int32_t ReceiveFrame(BootLink& link, Receiver& receiver, std::uint8_t* destination,
                          std::uint32_t& size, std::chrono::milliseconds silence,
                          Clock::time_point deadline, std::uint32_t expected) {
  const std::uint32_t room = size;
  size = 0;
  receiver.rxCount = 0;
  receiver.rxFrameLength = 0;
  receiver.rxHeader = nullptr;

  // The bytes of an oversized frame beyond the buffer are read here and dropped, so the line stays
  // in step with the device.
  std::array<std::uint8_t, kRxBufferSize> overflow;
  std::uint32_t frameLength = kHeaderSize;
  std::uint32_t restedFor = 0;  // the length the last sleep for the rest waited for
  auto lastInput = Clock::now();

  while (receiver.rxCount < frameLength) {
    const std::uint32_t missing = frameLength - receiver.rxCount;
    std::uint8_t* into;
    std::uint32_t count;
    if (receiver.rxCount < kRxBufferSize) {
      into = receiver.rxBuffer.data() + receiver.rxCount;
      count = std::min<std::uint32_t>(missing, kRxBufferSize - receiver.rxCount);
    } else {
      into = overflow.data();
      count = std::min<std::uint32_t>(missing, kRxBufferSize);
    }
    const std::uint32_t asked = count;
    const std::int32_t result = link.port->Read(into, count);
    if (result != 0)
      return result;
    const auto now = Clock::now();
    if (count == 0) {
      const auto end = std::min(lastInput + silence, deadline);
      if (now >= end)
        return serial::kErrorTimeout;
      const std::int32_t waited =
          link.port->WaitReadable(std::chrono::ceil<std::chrono::milliseconds>(end - now));
      if (waited != 0)
        return waited;
      continue;
    }
    lastInput = now;
    receiver.rxCount += count;
    if (receiver.rxHeader == nullptr && receiver.rxCount >= kHeaderSize) {
      receiver.rxHeader = receiver.rxBuffer.data();
      if (receiver.rxBuffer[0] != kShortFrameMark) {
        frameLength = static_cast<std::uint32_t>(kHeaderSize) + 4u * GetU16(&receiver.rxBuffer[4]);
      }
    }
    if (receiver.rxCount < frameLength) {
      // Bytes keep coming, but the rest of this frame cannot arrive by the deadline: a chattering
      // line cannot hold the receive open, and a cancel is seen although the port never goes quiet.
      if (deadline != Clock::time_point::max() &&
          now + serial::WireTime(frameLength - receiver.rxCount) > deadline)
        return serial::kErrorTimeout;
      if (link.port->cancel != nullptr && link.port->cancel->cancelled())
        return serial::kErrorCancelled;
      // Once the driver is drained, sleep while the rest of the frame is still on the wire instead
      // of waking for each byte. A read that filled its request may have left bytes: read on.
      if (count < asked) {
        const std::uint32_t awaited =
            receiver.rxHeader == nullptr ? std::max(frameLength, expected) : frameLength;
        const std::int32_t waited =
            link.port->WaitForRest(awaited - receiver.rxCount, awaited == restedFor,
                                   std::min(lastInput + silence, deadline));
        if (waited != 0)
          return waited;
        restedFor = awaited;
      }
    }
  }

  receiver.rxFrameLength = static_cast<std::int32_t>(frameLength);
  const std::uint32_t copied =
      std::min({room, frameLength, static_cast<std::uint32_t>(kRxBufferSize)});
  if (copied > 0)
    std::memcpy(destination, receiver.rxBuffer.data(), copied);
  size = copied;
  return frameLength > copied ? 1 : 0;
}

}  // namespace vantor::protocol
