// The block download session against the simulated device on a pseudo-terminal: frame sizes on
// the wire, progress, memory afterwards, and every way a session fails.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/download.h"
#include "serial/debug_output.h"
#include "support/pty_pair.h"

namespace vantor::protocol {
namespace {

using namespace std::chrono_literals;
using devsim::DeviceEvent;
using devsim::DeviceOptions;

constexpr std::uint32_t kBase = 0x100000;

Segment MakeSegment(std::uint32_t address, std::size_t size, std::uint8_t seed) {
  Segment s;
  s.address = address;
  s.length = static_cast<std::int32_t>(size);
  s.data.resize(size);
  for (std::size_t i = 0; i < size; ++i)
    s.data[i] = static_cast<std::uint8_t>(seed + i * 7);
  return s;
}

struct ProgressLog {
  std::vector<std::int32_t> percents;
  static std::int32_t Record(void* userData, std::int32_t percent) {
    static_cast<ProgressLog*>(userData)->percents.push_back(percent);
    return 0;
  }
};

// Collects the DebugOutput lines while it lives.
class TraceLog {
 public:
  TraceLog() {
    serial::SetDebugSink([this](std::string_view text) {
      std::lock_guard lock(m_mutex);
      m_lines.emplace_back(text);
    });
  }
  ~TraceLog() { serial::SetDebugSink({}); }
  std::vector<std::string> lines() {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

struct Session {
  testing::SimulatedDevice sim;
  TransferContext context;
  ProgressLog progress;

  explicit Session(DeviceOptions options) : sim(testing::StartSimulatedDevice(std::move(options))) {
    context.link = sim.link;
    // Generous against a loaded machine, short enough for the stall cases.
    context.replyTimeout = 1500ms;
    context.endReplyTimeout = 3000ms;
  }
  std::int32_t Run(const SegmentList& list, std::uint32_t flags = 0) {
    return DownloadSegments(list, context, &ProgressLog::Record, &progress, flags);
  }
  std::vector<DeviceEvent> Events(DeviceEvent::Kind kind) {
    return sim.With([kind](devsim::Device& d) {
      std::vector<DeviceEvent> found;
      for (const DeviceEvent& e : d.events())
        if (e.kind == kind)
          found.push_back(e);
      return found;
    });
  }
  std::vector<DeviceEvent> AllEvents() {
    return sim.With([](devsim::Device& d) { return d.events(); });
  }
  std::vector<std::uint8_t> Memory(std::uint32_t address, std::size_t count) {
    return sim.With([&](devsim::Device& d) { return d.ReadMemory(address, count); });
  }
};

TEST(DownloadTest, WorkedExampleGoesAsTwoFullFramesAndOneShort) {
  TraceLog trace;
  Session session({});
  SegmentList list;
  InsertSegment(list, MakeSegment(kBase + 0x100, 600, 3));
  ASSERT_EQ(session.Run(list, kCodeDownloadFlags), 0);

  const auto frames = session.Events(DeviceEvent::Kind::kDataFrame);
  ASSERT_EQ(frames.size(), 3u);
  const std::uint16_t lengths[] = {62, 62, 35};
  const std::uint32_t payloads[] = {236, 236, 128};
  const std::uint32_t wire[] = {256, 256, 148};
  std::uint32_t address = kBase + 0x100;
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i].lengthWords, lengths[i]);
    EXPECT_EQ(frames[i].payloadBytes, payloads[i]);
    EXPECT_EQ(frames[i].frameBytes, wire[i]);
    EXPECT_EQ(frames[i].address, address);
    EXPECT_EQ(frames[i].flags, 0u);  // bit 0 of 0x3C690000 is clear, no padding
    EXPECT_TRUE(frames[i].crcOk);
    address += payloads[i];
  }
  EXPECT_EQ(session.sim.With([](devsim::Device& d) { return *d.lastDownloadFlags(); }),
            kCodeDownloadFlags);
  EXPECT_EQ(session.Memory(kBase + 0x100, 600), list.begin()->data);
  EXPECT_EQ(session.progress.percents, (std::vector<std::int32_t>{39, 78, 100}));

  std::vector<std::string> left;
  for (const std::string& line : trace.lines())
    if (line.find("bytes left") != std::string::npos)
      left.push_back(line);
  EXPECT_EQ(left, (std::vector<std::string>{"364 bytes left for block @00100100\n",
                                            "128 bytes left for block @00100100\n",
                                            "0 bytes left for block @00100100\n"}));
}

TEST(DownloadTest, FrameShapesFollowTheSegmentLength) {
  struct Case {
    const char* name;
    std::size_t size;
    std::uint32_t flagsWord;
    std::vector<std::uint16_t> lengths;
    std::vector<std::uint32_t> flags;
    std::vector<std::uint32_t> wire;
  };
  const Case cases[] = {
      {"five bytes", 5, 0, {5}, {6}, {28}},
      {"five bytes, bit 0 set", 5, 1, {5}, {7}, {28}},
      {"one byte", 1, 0x3C690001, {4}, {7}, {24}},
      {"exact multiple of P", 472, 1, {62, 62}, {1, 1}, {256, 256}},
      {"P plus two", 238, 0, {62, 4}, {0, 4}, {256, 24}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session session({});
    SegmentList list;
    InsertSegment(list, MakeSegment(kBase, c.size, 11));
    ASSERT_EQ(session.Run(list, c.flagsWord), 0);
    const auto frames = session.Events(DeviceEvent::Kind::kDataFrame);
    ASSERT_EQ(frames.size(), c.lengths.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].lengthWords, c.lengths[i]);
      EXPECT_EQ(frames[i].flags, c.flags[i]);
      EXPECT_EQ(frames[i].frameBytes, c.wire[i]);
      EXPECT_TRUE(frames[i].crcOk);
    }
    EXPECT_EQ(session.Memory(kBase, c.size), list.begin()->data);
  }
}

TEST(DownloadTest, EmptyListSendsOnlyTheOpeningCommand) {
  Session session({});
  SegmentList list;
  ASSERT_EQ(session.Run(list, kCodeDownloadFlags), 0);
  EXPECT_TRUE(session.progress.percents.empty());
  // Give the device thread time to take in anything else that might have been sent.
  std::this_thread::sleep_for(100ms);
  const auto received = session.sim.With([](devsim::Device& d) { return d.received(); });
  EXPECT_EQ(received, (std::vector<std::uint8_t>{0x01, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x69, 0x3C}));
}

TEST(DownloadTest, ZeroLengthSegmentGoesStraightToTheEndFrame) {
  Session session({});
  SegmentList list;
  InsertSegment(list, MakeSegment(kBase, 0, 0));
  ASSERT_EQ(session.Run(list), 0);
  std::vector<DeviceEvent::Kind> kinds;
  for (const DeviceEvent& e : session.AllEvents())
    kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<DeviceEvent::Kind>{DeviceEvent::Kind::kOpenSession,
                                                   DeviceEvent::Kind::kStartSegment,
                                                   DeviceEvent::Kind::kEndFrame}));
  EXPECT_TRUE(session.progress.percents.empty());
}

TEST(DownloadTest, WaitPhaseTakesTheLastCapabilityAndIgnoresOtherFrames) {
  DeviceOptions options;
  options.frameWords = 32;
  options.extraCapabilityFrames = 2;
  options.otherFramesBeforeReady = 2;
  options.readyAsShortFrame = true;
  Session session(options);
  SegmentList list;
  InsertSegment(list, MakeSegment(kBase, 300, 5));
  ASSERT_EQ(session.Run(list), 0);
  const auto frames = session.Events(DeviceEvent::Kind::kDataFrame);
  ASSERT_EQ(frames.size(), 3u);  // P = 108 with W = 32
  EXPECT_EQ(frames[0].lengthWords, 30);
  EXPECT_EQ(frames[0].frameBytes, 128u);
  EXPECT_EQ(session.Memory(kBase, 300), list.begin()->data);
}

TEST(DownloadTest, ProgressIsOverTheWholeList) {
  DeviceOptions options;
  options.frameWords = 80;  // P = 300
  Session session(options);
  SegmentList list;
  InsertSegment(list, MakeSegment(kBase, 100, 1));
  InsertSegment(list, MakeSegment(kBase + 0x1000, 300, 2));
  ASSERT_EQ(session.Run(list), 0);
  EXPECT_EQ(session.progress.percents, (std::vector<std::int32_t>{25, 100}));
  EXPECT_EQ(session.context.totalBytes, 400);
  EXPECT_EQ(session.context.doneBytes, 400);
}

TEST(DownloadTest, RefusalInTheSecondSegmentKeepsTheFirstWritten) {
  DeviceOptions options;
  options.refuseSegment = 1;
  options.refuseFrame = 2;
  options.refuseStatus = 2;
  Session session(options);
  SegmentList list;
  InsertSegment(list, MakeSegment(kBase, 300, 1));           // 236 + 64
  InsertSegment(list, MakeSegment(kBase + 0x1000, 800, 2));  // 236 + 236 + refused
  InsertSegment(list, MakeSegment(kBase + 0x2000, 10, 3));   // never touched
  EXPECT_EQ(session.Run(list), DL_ERR_REFUSED_2);
  EXPECT_EQ(session.Memory(kBase, 300), list.begin()->data);
  // 236, 300, 536, 772 of 1110 bytes confirmed.
  EXPECT_EQ(session.progress.percents, (std::vector<std::int32_t>{21, 27, 48, 69}));
  EXPECT_EQ(session.Events(DeviceEvent::Kind::kStartSegment).size(), 2u);
}

TEST(DownloadTest, FaultsEndTheSessionWithTheirCodes) {
  struct Case {
    const char* name;
    void (*set)(DeviceOptions&);
    std::int32_t expected;
  };
  const Case cases[] = {
      {"refused with 5",
       [](DeviceOptions& o) { o.refuseSegment = 0, o.refuseFrame = 1, o.refuseStatus = 5; },
       DL_ERR_REFUSED_5},
      {"refused with 7",
       [](DeviceOptions& o) { o.refuseSegment = 0, o.refuseFrame = 0, o.refuseStatus = 7; },
       DL_ERR_REFUSED},
      {"end status 3", [](DeviceOptions& o) { o.endStatus = 3; }, DL_ERR_REFUSED},
      {"end reference 1", [](DeviceOptions& o) { o.endReference = 1; }, DL_ERR_REFUSED},
      {"end status 10", [](DeviceOptions& o) { o.endStatus = 10; }, 0},
      {"ready status 13", [](DeviceOptions& o) { o.readyStatus = 13; }, DL_ERR_NOT_READY},
      {"no capability",
       [](DeviceOptions& o) { o.capabilityFault = devsim::CapabilityFault::kMissing; },
       DL_ERR_NO_CAPABILITY},
      {"capability of 8 bytes",
       [](DeviceOptions& o) { o.capabilityFault = devsim::CapabilityFault::kShort; },
       DL_ERR_NO_CAPABILITY},
      {"capability of 20 bytes",
       [](DeviceOptions& o) { o.capabilityFault = devsim::CapabilityFault::kTooLong; },
       DL_ERR_TOO_LONG},
      {"W = 5", [](DeviceOptions& o) { o.frameWords = 5; }, DL_ERR_NO_CAPABILITY},
      {"W = 6, four bytes a frame", [](DeviceOptions& o) { o.frameWords = 6; }, 0},
      {"W beyond a frame header", [](DeviceOptions& o) { o.frameWords = kMaxFrameWords + 1; },
       DL_ERR_NO_CAPABILITY},
      {"short status reply", [](DeviceOptions& o) { o.shortStatusReply = true; }, DL_ERR_REFUSED},
      {"stalled device", [](DeviceOptions& o) { o.stallSegment = 0, o.stallFrame = 1; },
       serial::kErrorTimeout + DL_ERR_IO_BASE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceOptions options;
    c.set(options);
    Session session(options);
    SegmentList list;
    InsertSegment(list, MakeSegment(kBase, 500, 9));
    EXPECT_EQ(session.Run(list), c.expected);
  }
}

TEST(DownloadTest, StalledDeviceIsATimeOutNotAHangAtTheDefaultBound) {
  DeviceOptions options;
  options.stallSegment = 0;
  options.stallFrame = 0;
  Session session(options);
  session.context.replyTimeout = kFrameSilenceTimeout;
  SegmentList list;
  InsertSegment(list, MakeSegment(kBase, 20, 9));
  EXPECT_EQ(session.Run(list), -8540);
}

TEST(DownloadTest, VanishedDeviceFailsTheOpeningWriteWithASystemError) {
  Session session({});
  session.sim.device->Disconnect();
  SegmentList list;
  InsertSegment(list, MakeSegment(kBase, 20, 9));
  const std::int32_t result = session.Run(list);
  EXPECT_GT(result, 0);
}

}  // namespace
}  // namespace vantor::protocol
