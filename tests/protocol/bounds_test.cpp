// Bounded sessions and cancellation: a line that never goes quiet cannot hold a phase open, and a
// cancel token ends every wait at once with kErrorCancelled. The device side is played by the test
// on a pseudo-terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "protocol/download.h"
#include "protocol/receiver.h"
#include "protocol/text_commands.h"
#include "support/pty_pair.h"

namespace vantor::protocol {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

class BoundsTest : public testing::PtyPortTest {
 protected:
  void SetUp() override {
    PtyPortTest::SetUp();
    if (HasFatalFailure())
      return;
    port->cancel = &token;
  }
  void TearDown() override {
    stop = true;
    if (device.joinable())
      device.join();
  }
  // After the host's first `expectBytes` bytes, sends `unit` over and over until the test ends.
  void Flood(std::size_t expectBytes, Bytes unit) {
    device = std::thread([this, expectBytes, unit] {
      if (expectBytes > 0)
        pty.Read(expectBytes);
      while (!stop) {
        pollfd pfd{pty.masterFd(), POLLOUT, 0};
        if (::poll(&pfd, 1, 20) == 1) [[maybe_unused]]
          auto n = ::write(pty.masterFd(), unit.data(), unit.size());
      }
    });
  }
  // Measures `fn`, returning its result and how long it took.
  template <typename Fn>
  std::int32_t Timed(Fn fn, Clock::duration& took) {
    const auto start = Clock::now();
    const std::int32_t r = fn();
    took = Clock::now() - start;
    return r;
  }

  serial::CancelToken token;
  std::thread device;
  std::atomic<bool> stop{false};
};

Bytes Header(std::uint16_t code, std::uint16_t lengthWords = 0) {
  Bytes frame(8, 0);
  frame[0] = 0x02;
  PutU16(&frame[2], code);
  PutU16(&frame[4], lengthWords);
  return frame;
}

TEST_F(BoundsTest, VersionQueryEndsOnTimeUnderAFloodOfWrongAnswers) {
  Flood(8, Bytes{0x00, 0x00, 0x0E, 0x00, 0xAA, 0xBB, 0xCC, 0xDD});  // code 14: never the answer
  std::uint32_t version = 7;
  Clock::duration took{};
  EXPECT_EQ(Timed([&] { return QueryBootVersion(link, version); }, took), -1);
  EXPECT_GE(took, kVersionQueryTimeout);
  EXPECT_LT(took, kVersionQueryTimeout + 700ms);
  EXPECT_EQ(version, 7u);
}

TEST_F(BoundsTest, WaitPhaseEndsOnTimeUnderAFloodOfOtherFrames) {
  // Open-session and start commands (8 bytes each), then frames of another code without end.
  Flood(16, Header(0x7777));
  TransferContext context;
  context.link = link;
  context.waitPhaseTimeout = 800ms;
  SegmentList list;
  Segment segment;
  segment.address = 0x100000;
  segment.length = 16;
  segment.data.assign(16, 0x5A);
  InsertSegment(list, std::move(segment));
  Clock::duration took{};
  EXPECT_EQ(Timed([&] { return DownloadSegments(list, context, nullptr, nullptr, 0); }, took),
            serial::kErrorTimeout + DL_ERR_IO_BASE);
  EXPECT_GE(took, 800ms);
  EXPECT_LT(took, 800ms + 700ms);
}

TEST_F(BoundsTest, FrameThatCannotArriveByTheDeadlineEndsAtOnce) {
  // 65535 words announced: about 23 s on the wire, with a deadline 1 s away.
  Flood(0, Header(0x7777, 0xFFFF));
  Bytes room(16);
  std::uint32_t size = 16;
  Clock::duration took{};
  EXPECT_EQ(Timed(
                [&] {
                  Receiver receiver;
                  return ReceiveFrame(link, receiver, room.data(), size, 5000ms,
                                      Clock::now() + 1000ms);
                },
                took),
            serial::kErrorTimeout);
  EXPECT_LT(took, 500ms);
}

TEST_F(BoundsTest, CancelEndsEveryWaitAtOnce) {
  struct Case {
    const char* name;
    std::function<std::int32_t(BootLink&)> run;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"frame receive",
       [](BootLink& l) {
         Bytes room(16);
         std::uint32_t size = 16;
         Receiver receiver;
         return ReceiveFrame(l, receiver, room.data(), size);
       },
       serial::kErrorCancelled},
      {"version query",
       [](BootLink& l) {
         std::uint32_t v = 0;
         return QueryBootVersion(l, v);
       },
       serial::kErrorCancelled},
      {"text exchange",
       [](BootLink& l) {
         std::string reply;
         return TextExchangeWide(l, "~du00100000,40\r\n", reply);
       },
       serial::kErrorCancelled},
      {"end-frame reply",
       [](BootLink& l) {
         TransferContext context;
         context.link = l;
         SegmentList list;
         Segment s;
         s.address = 0x100000;
         InsertSegment(list, std::move(s));
         return DownloadSegments(list, context, nullptr, nullptr, 0);
       },
       serial::kErrorCancelled + DL_ERR_IO_BASE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::PtyPair silent;
    auto p = serial::CreatePort(silent.path(), false);
    ASSERT_TRUE(p->IsOpen());
    serial::CancelToken cancel;
    p->cancel = &cancel;
    BootLink l{p.get()};
    std::thread canceller([&] {
      std::this_thread::sleep_for(150ms);
      cancel.Cancel();
    });
    Clock::duration took{};
    EXPECT_EQ(Timed([&] { return c.run(l); }, took), c.expected);
    canceller.join();
    EXPECT_LT(took, 150ms + 300ms);
  }
}

TEST_F(BoundsTest, CancelEndsAQueryOnALineThatNeverGoesQuiet) {
  Flood(8, Bytes{0x00, 0x00, 0x0E, 0x00, 0xAA, 0xBB, 0xCC, 0xDD});
  std::thread canceller([&] {
    std::this_thread::sleep_for(200ms);
    token.Cancel();
  });
  std::uint32_t version = 0;
  Clock::duration took{};
  EXPECT_EQ(Timed([&] { return QueryBootVersion(link, version); }, took), serial::kErrorCancelled);
  canceller.join();
  EXPECT_LT(took, 200ms + 300ms);
}

// The simulated device's floods at the default bounds: the version query ends with -1 3000 ms after
// it began, the wait phase with the time-out code 5000 ms after the start command.
TEST(SimulatedFloods, EndOnTimeAtTheDefaultBounds) {
  {
    devsim::DeviceOptions options;
    options.floodWrongVersionAnswers = true;
    auto sim = testing::StartSimulatedDevice(options);
    std::uint32_t version = 0;
    const auto start = Clock::now();
    EXPECT_EQ(QueryBootVersion(sim.link, version), -1);
    EXPECT_LT(Clock::now() - start, kVersionQueryTimeout + 700ms);
  }
  {
    devsim::DeviceOptions options;
    options.floodOtherFramesInWaitPhase = true;
    auto sim = testing::StartSimulatedDevice(options);
    TransferContext context;
    context.link = sim.link;
    SegmentList list;
    Segment segment;
    segment.address = 0x100000;
    segment.length = 64;
    segment.data.assign(64, 0xA5);
    InsertSegment(list, std::move(segment));
    const auto start = Clock::now();
    EXPECT_EQ(DownloadSegments(list, context, nullptr, nullptr, 0),
              serial::kErrorTimeout + DL_ERR_IO_BASE);
    EXPECT_LT(Clock::now() - start, kWaitPhaseTimeout + 1000ms);
  }
}

TEST(CancelToken, SleepsItsTimeUnlessCancelled) {
  serial::CancelToken token;
  auto start = Clock::now();
  EXPECT_EQ(token.SleepFor(120ms), 0);
  EXPECT_GE(Clock::now() - start, 120ms);

  std::thread canceller([&] {
    std::this_thread::sleep_for(50ms);
    token.Cancel();
    token.Cancel();  // twice is harmless
  });
  start = Clock::now();
  EXPECT_EQ(token.SleepFor(10s), serial::kErrorCancelled);
  canceller.join();
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(token.SleepFor(10s), serial::kErrorCancelled);  // stays cancelled
}

}  // namespace
}  // namespace vantor::protocol
