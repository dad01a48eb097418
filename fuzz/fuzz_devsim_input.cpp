// Arbitrary host bytes into the simulated device, in pieces at advancing fake times, with pacing
// and faults chosen from the first bytes: the device must never crash or grow without bound.
#include <cstddef>
#include <cstdint>
#include <span>

#include "devsim/device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantor::devsim;
  if (size < 2)
    return 0;
  DeviceOptions o;
  o.state = (data[0] & 1) ? DeviceState::kFirmware : DeviceState::kBootloader;
  o.paced = (data[0] & 2) != 0;
  o.frameWords = 6u + (data[0] >> 2);
  o.readyAsShortFrame = (data[1] & 1) != 0;
  o.shortStatusReply = (data[1] & 2) != 0;
  o.readBackReply = static_cast<ReadBackReply>((data[1] >> 2) % 3);
  o.corruptAddress = 0x100000u + data[1];
  o.restartDelay = std::chrono::milliseconds(data[1]);
  Device d(o);
  Clock::time_point now{};
  std::size_t at = 2;
  while (at < size) {
    const std::size_t n = 1 + data[at] % 32;  // piece length
    const std::size_t take = std::min(n, size - at - 1);
    d.Receive(std::span(data + at + 1, take), now);
    now += std::chrono::microseconds(50 * data[at]);
    (void)d.Transmit(now);
    (void)d.NextWakeTime();
    at += 1 + take;
  }
  (void)d.Transmit(now + std::chrono::hours(1));
  return 0;
}
