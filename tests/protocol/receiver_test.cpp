// The frame receiver over a pseudo-terminal whose device side the test plays byte by byte.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "protocol/receiver.h"
#include "support/pty_pair.h"

namespace vantor::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes Frame(std::uint8_t first, std::uint16_t code, std::uint16_t lengthWords) {
  Bytes frame(8 + 4u * lengthWords);
  frame[0] = first;
  PutU16(&frame[2], code);
  PutU16(&frame[4], lengthWords);
  for (std::size_t i = 8; i < frame.size(); ++i)
    frame[i] = static_cast<std::uint8_t>(i);
  return frame;
}

class ReceiverTest : public testing::PtyPortTest {
 protected:
  std::int32_t Receive(std::uint32_t room, std::chrono::milliseconds silence = 2000ms) {
    received.assign(room, 0);
    size = room;
    const std::int32_t result = ReceiveFrame(link, receiver, received.data(), size, silence);
    received.resize(size);
    return result;
  }

  Receiver receiver;
  Bytes received;
  std::uint32_t size = 0;
};

TEST_F(ReceiverTest, HeaderInPiecesIsAssembledLikeAWholeOne) {
  const Bytes frame = Frame(0x01, kFrameReady, 0);
  std::thread device([&] {
    pty.Write(Bytes(frame.begin(), frame.begin() + 3));
    std::this_thread::sleep_for(30ms);
    pty.Write(Bytes{});
    std::this_thread::sleep_for(30ms);
    pty.Write(Bytes(frame.begin() + 3, frame.end()));
  });
  EXPECT_EQ(Receive(8), 0);
  device.join();
  EXPECT_EQ(received, frame);
  EXPECT_EQ(receiver.rxFrameLength, 8);
}

TEST_F(ReceiverTest, ShortFrameEndsAtItsHeaderWhateverItsLength) {
  const Bytes shortFrame = Frame(kShortFrameMark, kFrameReady, 5);  // announces 20 more bytes
  pty.Write(shortFrame);
  EXPECT_EQ(Receive(8), 0);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(received, Bytes(shortFrame.begin(), shortFrame.begin() + 8));
  // The 20 bytes are still on the line, untouched.
  std::uint8_t rest[32];
  std::uint32_t count = sizeof rest;
  ASSERT_EQ(port->WaitReadable(1s), 0);
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(port->Read(rest, count), 0);
  EXPECT_EQ(Bytes(rest, rest + count), Bytes(shortFrame.begin() + 8, shortFrame.end()));
}

TEST_F(ReceiverTest, RoomDecidesBetweenWholeAndTruncated) {
  const Bytes reply = Frame(0x02, 0x3001, 2);  // 16 bytes
  pty.Write(reply);
  EXPECT_EQ(Receive(8), 1);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(received, Bytes(reply.begin(), reply.begin() + 8));
  EXPECT_EQ(receiver.rxFrameLength, 16);
  EXPECT_EQ(Bytes(receiver.rxBuffer.begin(), receiver.rxBuffer.begin() + 16), reply);

  pty.Write(reply);
  EXPECT_EQ(Receive(16), 0);
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(received, reply);
}

TEST_F(ReceiverTest, OversizedFrameIsReadOffWholeAndTheNextFrameStillArrives) {
  const Bytes big = Frame(0x02, 0x300B, 100);  // 408 bytes, more than the 256-byte buffer
  const Bytes next = Frame(0x02, 0x3001, 2);
  Bytes both = big;
  both.insert(both.end(), next.begin(), next.end());
  pty.Write(both);
  EXPECT_EQ(Receive(16), 1);
  EXPECT_EQ(receiver.rxFrameLength, 408);
  EXPECT_EQ(Bytes(receiver.rxBuffer.begin(), receiver.rxBuffer.end()),
            Bytes(big.begin(), big.begin() + 256));
  EXPECT_EQ(Receive(16), 0);
  EXPECT_EQ(received, next);
}

TEST_F(ReceiverTest, SilentDeviceEndsWithTheTimeOutCode) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Receive(16, 300ms), serial::kErrorTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_EQ(size, 0u);
}

TEST_F(ReceiverTest, SilenceIsCountedFromTheLastByte) {
  // A slow but steady device is not cut off: bytes 150 ms apart against a 400 ms bound.
  const Bytes reply = Frame(0x02, 0x3001, 2);
  std::thread device([&] {
    for (std::size_t i = 0; i < reply.size(); i += 4) {
      pty.Write(
          Bytes(reply.begin() + static_cast<long>(i), reply.begin() + static_cast<long>(i) + 4));
      std::this_thread::sleep_for(150ms);
    }
  });
  EXPECT_EQ(Receive(16, 400ms), 0);
  device.join();
  EXPECT_EQ(received, reply);
}

TEST_F(ReceiverTest, DeviceVanishingMidFrameEndsWithTheReadError) {
  const Bytes reply = Frame(0x02, 0x3001, 2);
  std::thread device([&] {
    pty.Write(Bytes(reply.begin(), reply.begin() + 11));
    std::this_thread::sleep_for(50ms);
    pty.CloseMaster();
  });
  const auto start = std::chrono::steady_clock::now();
  const std::int32_t result = Receive(16, 4000ms);
  device.join();
  EXPECT_EQ(result, EIO);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);
  EXPECT_EQ(size, 0u);
}

// The receiver sleeps once for a frame's rest at the line's rate. Bytes that are late after that
// sleep (a slow device, an adapter's packet) end the receive when they arrive, not after one more
// sleep for their wire time (990 bytes: 86 ms).
TEST_F(ReceiverTest, LateRestEndsTheFrameWhenItArrives) {
  const Bytes frame = Frame(0xA5, kFrameCapability, 252);  // 8 + 1008 bytes
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastWritten;
  std::thread device([&] {
    pty.Write(Bytes(frame.begin(), frame.begin() + 18));
    std::this_thread::sleep_for(50ms);  // inside the receiver's sleep for the rest (87 ms)
    pty.Write(Bytes(frame.begin() + 18, frame.begin() + 28));
    std::this_thread::sleep_for(60ms);  // after that sleep
    lastWritten = std::chrono::steady_clock::now();
    pty.Write(Bytes(frame.begin() + 28, frame.end()));
  });
  EXPECT_EQ(Receive(16), 1);
  const auto end = std::chrono::steady_clock::now();
  device.join();
  EXPECT_EQ(receiver.rxFrameLength, 1016);
  EXPECT_GE(end, lastWritten);
  EXPECT_LT(end - lastWritten, 40ms)
      << "ended " << std::chrono::duration<double>(end - start).count() << " s";
}

TEST_F(ReceiverTest, WaitingForASilentDeviceUsesAlmostNoCpu) {
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Receive(16, 1500ms), serial::kErrorTimeout);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  getrusage(RUSAGE_THREAD, &after);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                     seconds(before.ru_stime);
  EXPECT_LT(cpu, 0.05 * wall) << "cpu " << cpu << " s over " << wall << " s";
}

}  // namespace
}  // namespace vantor::protocol
