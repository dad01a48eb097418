// Text commands, the binary version query and the memory read-back: the exact bytes on the line
// against a device side played by the test, and the read-back against the simulated device.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/text_commands.h"
#include "support/pty_pair.h"
#include "support/test_files.h"

namespace vantor::protocol {
namespace {

using vantor::testing::PatternBytes;

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// A port on a pty whose device side the test scripts.
class ScriptedDevice : public testing::PtyPortTest {
 protected:
  void TearDown() override {
    if (device.joinable())
      device.join();
  }
  // Plays the device on its own thread: for every line the host sends, `answer` gives the reply.
  void AnswerLines(int lines, std::function<std::string(const std::string&)> answer) {
    device = std::thread([this, lines, answer] {
      std::string pending;
      for (int i = 0; i < lines; ++i) {
        while (pending.find("\r\n") == std::string::npos) {
          const Bytes got = pty.Read(1, 3s);
          if (got.empty())
            return;
          pending += Text(got);
        }
        const std::size_t end = pending.find("\r\n") + 2;
        const std::string line = pending.substr(0, end);
        pending.erase(0, end);
        commands.push_back(line);
        pty.Write(answer(line));
      }
    });
  }

  TextReplies replies;
  std::thread device;
  std::vector<std::string> commands;  // read by the test after TearDown-style join
};

TEST_F(ScriptedDevice, BootVersionSkipsOtherAnswers) {
  device = std::thread([this] {
    const Bytes query = pty.Read(8);
    EXPECT_EQ(query, (Bytes{0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00}));
    pty.Write(Bytes{0x00, 0x00, 0x0E, 0x00, 0xAA, 0xBB, 0xCC, 0xDD});  // code 14: not the answer
    std::this_thread::sleep_for(50ms);
    pty.Write(Bytes{0x01, 0x00, 0x0F, 0x00, 0x11, 0x11, 0x11, 0x11});  // kind 1: not the answer
    pty.Write(Bytes{0x00, 0x00, 0x0F, 0x00, 0x04, 0x03, 0x02, 0x01});
  });
  std::uint32_t version = 0;
  EXPECT_EQ(QueryBootVersion(link, version), 0);
  EXPECT_EQ(version, 0x01020304u);
}

TEST_F(ScriptedDevice, BootVersionTimesOutOnAPartialAnswer) {
  device = std::thread([this] {
    pty.Read(8);
    pty.Write(Bytes{0x00, 0x00, 0x0F});
  });
  std::uint32_t version = 7;
  EXPECT_EQ(QueryBootVersion(link, version), -1);
  EXPECT_EQ(version, 7u);
}

TEST(FirmwareVersion, RepliesAreAcceptedOnlyWithTheirPrefix) {
  struct Case {
    const char* name;
    std::string reply;
    const char* expected;  // null: no valid answer
  };
  const Case cases[] = {
      {"version text", "~Rv00001.2\r\n", "1.2\r\n"},
      {"empty version, 9 bytes", "~Rv0000\r\n", "\r\n"},
      {"other prefix", "~Rv0001.2\r\n", nullptr},
      {"7 bytes without CR LF", "~Rv0000", nullptr},  // waits out the 3000 ms
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::PtyPair pty;
    auto port = serial::CreatePort(pty.path(), false);
    ASSERT_TRUE(port->IsOpen());
    BootLink link{port.get()};
    TextReplies replies;
    std::string command;
    std::thread device([&] {
      command = Text(pty.Read(5));
      pty.Write(c.reply);
    });
    const char* version = QueryFirmwareVersion(link, replies);
    device.join();
    EXPECT_EQ(command, "~rv\r\n");
    if (c.expected == nullptr) {
      EXPECT_EQ(version, nullptr);
    } else {
      ASSERT_NE(version, nullptr);
      EXPECT_STREQ(version, c.expected);
      EXPECT_EQ(version, replies.versionReply + 7);
    }
  }
}

TEST_F(ScriptedDevice, TextReplyEndsAtCrLfAndLeavesTheRestOnTheLine) {
  AnswerLines(1, [](const std::string&) { return std::string("~Dboot\r\nXY"); });
  EXPECT_EQ(RequestBootMode(link, replies), BootModeOutcome::kAcknowledged);
  device.join();
  EXPECT_EQ(commands, (std::vector<std::string>{"~dboot\r\n"}));
  EXPECT_STREQ(replies.bootReply, "~Dboot\r\n");
  ASSERT_EQ(port->WaitReadable(1s), 0);
  std::uint8_t rest[8];
  std::uint32_t count = sizeof rest;
  ASSERT_EQ(port->Read(rest, count), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), count), "XY");
}

TEST_F(ScriptedDevice, BootModeRefusedByAnotherLine) {
  AnswerLines(1, [](const std::string&) { return std::string("~Err\r\n"); });
  EXPECT_EQ(RequestBootMode(link, replies), BootModeOutcome::kRefused);
}

TEST_F(ScriptedDevice, BootModeSilentWhenNoLineComes) {
  EXPECT_EQ(RequestBootMode(link, replies), BootModeOutcome::kSilent);  // 3000 ms
}

TEST_F(ScriptedDevice, TextReplyWithoutCrLfIsCompleteAtTheRoom) {
  const std::string filler(210, 'x');
  AnswerLines(1, [&](const std::string&) { return filler; });
  char reply[kReplyRoom + 1];
  std::memset(reply, '#', sizeof reply);
  std::int32_t room = static_cast<std::int32_t>(kReplyRoom);
  const std::string command = "~rv\r\n";
  ASSERT_EQ(TextExchange(link, reinterpret_cast<const std::uint8_t*>(command.data()),
                         static_cast<std::uint32_t>(command.size()), reply, room),
            0);
  EXPECT_EQ(room, 200);
  EXPECT_EQ(reply[200], '\0');
  EXPECT_EQ(std::string(reply), std::string(200, 'x'));
}

TEST_F(ScriptedDevice, WideReplyEndsAtTheFirstCrLfOfARead) {
  AnswerLines(1, [](const std::string&) { return std::string("~Du0000AB\r\n~Du0000CD\r\n"); });
  std::string reply;
  EXPECT_EQ(TextExchangeWide(link, "~du00100000,01\r\n", reply), 0);
  EXPECT_EQ(reply, "~Du0000AB\r\n");
}

TEST_F(ScriptedDevice, WideReplyWithoutCrLfIsCompleteAt250Bytes) {
  AnswerLines(1, [](const std::string&) { return std::string(260, 'z'); });
  std::string reply;
  EXPECT_EQ(TextExchangeWide(link, "~du00100000,40\r\n", reply), 0);
  EXPECT_EQ(reply, std::string(250, 'z'));
}

TEST_F(ScriptedDevice, VanishedDeviceEndsTheExchangeAsATimeOut) {
  device = std::thread([this] {
    pty.Read(16);
    pty.CloseMaster();
  });
  std::string reply = "old";
  EXPECT_EQ(TextExchangeWide(link, "~du00100000,40\r\n", reply), -1);
  EXPECT_EQ(reply, "old");
}

TEST(ParseHexTest, DigitsAndOtherCharacters) {
  EXPECT_EQ(ParseHex(""), 0u);
  EXPECT_EQ(ParseHex("7"), 7u);
  EXPECT_EQ(ParseHex("aF"), 0xAFu);
  EXPECT_EQ(ParseHex("1g"), 0x10u);  // other characters count as 0
  EXPECT_EQ(ParseHex("13C040"), 0x13C040u);
}

// --- Read-back ---

struct ProgressLog {
  std::vector<std::int32_t> percents;
  static std::int32_t Record(void* userData, std::int32_t percent) {
    static_cast<ProgressLog*>(userData)->percents.push_back(percent);
    return 0;
  }
};

Segment Buffer(std::uint32_t address, std::int32_t length) {
  Segment s;
  s.address = address;
  s.length = length;
  s.data.assign(static_cast<std::size_t>(length), 0xAA);  // stale content the read-back must clear
  return s;
}

TEST(ReadBack, PiecesOf64BytesFillTheSegment) {
  auto sim = testing::StartSimulatedDevice({});
  const auto image = PatternBytes(100, 3);
  sim.With([&](devsim::Device& d) { d.WriteMemory(0x13C000, image); });
  SegmentList list;
  InsertSegment(list, Buffer(0x13C000, 100));
  TransferContext context;
  context.link = sim.link;
  ProgressLog progress;
  ReadBackReport report;
  EXPECT_EQ(ReadBackSegments(context, list, &ProgressLog::Record, &progress, report), 0);
  EXPECT_EQ(list.begin()->data, image);
  EXPECT_EQ(progress.percents, (std::vector<std::int32_t>{64, 100}));
  EXPECT_EQ(report.result, 0);
  EXPECT_EQ(report.blocks, std::vector<std::uint32_t>{0x13C000});
  EXPECT_TRUE(report.unreadSegments.empty());
  std::vector<std::string> texts;
  sim.With([&](devsim::Device& d) {
    for (const auto& e : d.events())
      if (e.kind == devsim::DeviceEvent::Kind::kTextCommand)
        texts.push_back(e.text);
  });
  EXPECT_EQ(texts, (std::vector<std::string>{"~du0013C000,40", "~du0013C040,24"}));
}

TEST(ReadBack, EmptyListIsUploadedAlone) {
  auto sim = testing::StartSimulatedDevice({});
  SegmentList list;
  TransferContext context;
  context.link = sim.link;
  ReadBackReport report;
  EXPECT_EQ(ReadBackSegments(context, list, nullptr, nullptr, report), 0);
  EXPECT_TRUE(report.blocks.empty());
}

TEST(ReadBack, SilentDeviceInTheLastSegmentIsAFailure) {
  devsim::DeviceOptions options;
  options.readBackReply = devsim::ReadBackReply::kSilent;
  options.readBackFaultFrom = 1;
  auto sim = testing::StartSimulatedDevice(options);
  SegmentList list;
  InsertSegment(list, Buffer(0x138000, 64));
  InsertSegment(list, Buffer(0x13C000, 64));
  TransferContext context;
  context.link = sim.link;
  ReadBackReport report;
  EXPECT_EQ(ReadBackSegments(context, list, nullptr, nullptr, report), -1);  // after 5000 ms
  EXPECT_EQ(report.result, -1);
  EXPECT_EQ(report.blocks, (std::vector<std::uint32_t>{0x138000, 0x13C000}));
  EXPECT_EQ(std::next(list.begin())->data, std::vector<std::uint8_t>(64, 0));
  EXPECT_EQ(report.unreadSegments, std::vector<std::uint32_t>{0x13C000});
}

// The middle segment's reply is malformed, the last one good again: the failure is not hidden.
TEST_F(ScriptedDevice, MalformedMiddleSegmentIsReportedAfterLaterSuccess) {
  AnswerLines(3, [](const std::string& line) {
    if (line.starts_with("~du00100040"))
      return std::string("~Du0000ABC\r\n");  // pair missing
    return std::string("~Du0000") + std::string(2 * 2, '5') + "\r\n";
  });
  SegmentList list;
  InsertSegment(list, Buffer(0x100000, 2));
  InsertSegment(list, Buffer(0x100040, 66));  // two pieces; the first is malformed
  InsertSegment(list, Buffer(0x100100, 2));
  TransferContext context;
  context.link = link;
  ReadBackReport report;
  EXPECT_EQ(ReadBackSegments(context, list, nullptr, nullptr, report), kReadBackMalformed);
  device.join();
  // The malformed piece abandoned its segment: its second piece was never asked for.
  EXPECT_EQ(commands, (std::vector<std::string>{"~du00100000,02\r\n", "~du00100040,40\r\n",
                                                "~du00100100,02\r\n"}));
  auto it = list.begin();
  EXPECT_EQ(it->data, (std::vector<std::uint8_t>{0x55, 0x55}));
  EXPECT_EQ((++it)->data, std::vector<std::uint8_t>(66, 0));
  EXPECT_EQ((++it)->data, (std::vector<std::uint8_t>{0x55, 0x55}));
  EXPECT_EQ(report.result, kReadBackMalformed);
  EXPECT_EQ(report.blocks, (std::vector<std::uint32_t>{0x100000, 0x100040, 0x100100}));
  EXPECT_EQ(report.unreadSegments, std::vector<std::uint32_t>{0x100040});  // only the failed one
}

TEST(ReadBack, OnlyExactRepliesAreTaken) {
  struct Case {
    const char* name;
    std::string reply;
    std::int32_t result;
    std::vector<std::uint8_t> data;
  };
  const Case cases[] = {
      {"valid", "~Du00001fE0\r\n", 0, {0x1F, 0xE0}},
      {"pair missing", "~Du00001F\r\n", kReadBackMalformed, {0, 0}},
      {"pair too many", "~Du00001FE0AA\r\n", kReadBackMalformed, {0, 0}},
      {"not a hex digit", "~Du00001FEG\r\n", kReadBackMalformed, {0, 0}},
      {"other status", "~Du00011FE0\r\n", kReadBackMalformed, {0, 0}},
      {"other command", "~Rv00001FE0\r\n", kReadBackMalformed, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::PtyPair pty;
    auto port = serial::CreatePort(pty.path(), false);
    ASSERT_TRUE(port->IsOpen());
    std::thread device([&] {
      pty.Read(16);
      pty.Write(c.reply);
    });
    SegmentList list;
    InsertSegment(list, Buffer(0x100000, 2));
    TransferContext context;
    context.link.port = port.get();
    ReadBackReport report;
    EXPECT_EQ(ReadBackSegments(context, list, nullptr, nullptr, report), c.result);
    device.join();
    EXPECT_EQ(list.begin()->data, c.data);
  }
}

}  // namespace
}  // namespace vantor::protocol
