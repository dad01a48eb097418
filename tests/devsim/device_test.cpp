// The simulated device's state machine driven directly with a fake clock: version query, the
// download exchange and its faults, the firmware's text commands, read-back, line pacing, the
// floods and the noisy line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devsim/device.h"
#include "protocol/frames.h"

namespace vantor::devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const Clock::time_point kT0 = Clock::time_point{} + 1000s;

Bytes Command(std::uint16_t kind, std::uint16_t code, std::uint32_t argument) {
  Bytes f(8);
  protocol::PutU16(&f[0], kind);
  protocol::PutU16(&f[2], code);
  protocol::PutU32(&f[4], argument);
  return f;
}

// A host data frame built here, bit by bit, independently of the protocol library.
Bytes DataFrame(std::uint32_t address, const Bytes& payload, std::uint32_t flagBit0 = 0) {
  const std::size_t pad = (4 - payload.size() % 4) % 4;
  Bytes f(20 + payload.size() + pad, 0);
  protocol::PutU16(&f[0], 0xF00D);
  protocol::PutU16(&f[2], 1);
  protocol::PutU16(&f[4], static_cast<std::uint16_t>(3 + (payload.size() + 3) / 4));
  protocol::PutU32(&f[8], address);
  protocol::PutU32(&f[16], (flagBit0 & 1) | static_cast<std::uint32_t>(pad << 1));
  std::memcpy(&f[20], payload.data(), payload.size());
  std::uint32_t crc = 0;
  auto run = [&crc](const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      crc ^= static_cast<std::uint32_t>(p[i]) << 24;
      for (int b = 0; b < 8; ++b)
        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  };
  run(f.data(), 12);
  run(f.data() + 16, 4 + payload.size());
  protocol::PutU32(&f[12], crc);
  return f;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
std::string AsText(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// Sends `bytes` at kT0 and returns everything the device has sent by kT0 + 10 s.
Bytes Exchange(Device& d, const Bytes& bytes, Clock::time_point at = kT0) {
  d.Receive(bytes, at);
  return d.Transmit(at + 10s);
}

// Splits device output into frames the way the host's receiver does.
std::vector<Bytes> Frames(const Bytes& out) {
  std::vector<Bytes> frames;
  std::size_t at = 0;
  while (at + 8 <= out.size()) {
    std::size_t n = out[at] == 0x40 ? 8 : 8 + 4u * protocol::GetU16(&out[at + 4]);
    frames.emplace_back(out.begin() + static_cast<std::ptrdiff_t>(at),
                        out.begin() + static_cast<std::ptrdiff_t>(std::min(at + n, out.size())));
    at += n;
  }
  return frames;
}

std::uint32_t Status(const Bytes& reply) {
  return reply.size() >= 16 ? protocol::GetU32(&reply[12]) : ~0u;
}

TEST(DeviceVersion, JunkAnswersThenVersion) {
  Device d({.bootVersion = 0x0A0B0C0D, .junkVersionAnswers = 2});
  Bytes out = Exchange(d, Command(0, 15, 0));
  ASSERT_EQ(out.size(), 24u);
  EXPECT_NE(protocol::GetU16(&out[2]), 15);
  EXPECT_NE(protocol::GetU16(&out[10]), 15);
  EXPECT_EQ(protocol::GetU16(&out[16]), 0);
  EXPECT_EQ(protocol::GetU16(&out[18]), 15);
  EXPECT_EQ(protocol::GetU32(&out[20]), 0x0A0B0C0Du);
  EXPECT_EQ(d.events().at(0).kind, DeviceEvent::Kind::kVersionQuery);
}

TEST(DeviceVersion, NotAnsweredWhenOff) {
  Device d({.answerBootVersion = false});
  EXPECT_TRUE(Exchange(d, Command(0, 15, 0)).empty());
  Device fw({.state = DeviceState::kFirmware});
  EXPECT_TRUE(Exchange(fw, Command(0, 15, 0)).empty());  // the firmware ignores binary bytes
}

// Open session, one segment of 600 bytes at W = 64 as the host sends it: two full frames of 236
// bytes and one of 128, then the end frame.
TEST(DeviceDownload, SegmentOf600BytesAtW64) {
  Device d({.frameWords = 64});
  EXPECT_TRUE(Exchange(d, Command(1, 14, 0x3C690000)).empty());
  EXPECT_EQ(d.lastDownloadFlags(), 0x3C690000u);

  auto wait = Frames(Exchange(d, Command(1, 0xF000, 1)));
  ASSERT_EQ(wait.size(), 3u);
  EXPECT_EQ(protocol::GetU16(&wait[0][2]), 0x300B);
  ASSERT_EQ(wait[0].size(), 16u);
  EXPECT_EQ(protocol::GetU32(&wait[0][8]), 64u);
  EXPECT_EQ(protocol::GetU16(&wait[1][2]), 1);
  EXPECT_NE(wait[1][0], 0x40);
  EXPECT_EQ(Status(wait[2]), 14u);

  Bytes image(600);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 7);
  const std::uint32_t base = 0x100400;
  for (std::size_t at = 0; at < image.size(); at += 236) {
    const std::size_t n = std::min<std::size_t>(236, image.size() - at);
    Bytes frame = DataFrame(base + static_cast<std::uint32_t>(at),
                            Bytes(image.begin() + static_cast<std::ptrdiff_t>(at),
                                  image.begin() + static_cast<std::ptrdiff_t>(at + n)),
                            1);
    Bytes reply = Exchange(d, frame);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_NE(reply[0], 0x40);
    EXPECT_EQ(Status(reply), 0u);
  }
  Bytes end = Exchange(d, {0x0D, 0xF0, 0x02, 0, 0, 0, 0, 0});
  ASSERT_EQ(end.size(), 16u);
  EXPECT_EQ(protocol::GetU32(&end[8]), 2u);
  EXPECT_EQ(Status(end), 9u);
  EXPECT_EQ(d.ReadMemory(base, 600), image);
  EXPECT_EQ(d.ReadByte(base - 1), 0xFF);
  EXPECT_EQ(d.ReadByte(base + 600), 0xFF);

  std::vector<std::uint32_t> sizes;
  for (const auto& e : d.events()) {
    if (e.kind == DeviceEvent::Kind::kDataFrame) {
      EXPECT_TRUE(e.crcOk);
      EXPECT_EQ(e.flags & 1, 1u);
      sizes.push_back(e.frameBytes);
    }
  }
  EXPECT_EQ(sizes, (std::vector<std::uint32_t>{256, 256, 148}));
}

struct FrameCase {
  const char* name;
  DeviceOptions options;
  Bytes frame;
  std::uint32_t status;  // ~0u: no reply at all
  bool written;
};

TEST(DeviceDownload, DataFrameOutcomes) {
  Bytes good = DataFrame(0x100000, {1, 2, 3, 4, 5});
  Bytes badCrc = good;
  badCrc[21] ^= 0x01;
  Bytes padOnly = good;
  padOnly[26] = 0x55;  // pad bytes are not covered by the CRC
  const std::vector<FrameCase> cases = {
      {"accepted", {}, good, 0, true},
      {"pad bytes ignored", {}, padOnly, 0, true},
      {"bad crc", {.badCrcStatus = 5}, badCrc, 5, false},
      {"refused", {.refuseSegment = 0, .refuseFrame = 0, .refuseStatus = 2}, good, 2, false},
      {"refused other segment", {.refuseSegment = 1, .refuseFrame = 0}, good, 0, true},
      {"stalled", {.stallSegment = 0, .stallFrame = 0}, good, ~0u, false},
      {"too big for W", {.frameWords = 6}, DataFrame(0x100000, Bytes(8, 1)), 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Device d(c.options);
    Exchange(d, Command(1, 14, 0));
    Exchange(d, Command(1, 0xF000, 1));
    Bytes reply = Exchange(d, c.frame);
    if (c.status == ~0u) {
      EXPECT_TRUE(reply.empty());
      EXPECT_TRUE(Exchange(d, {0x0D, 0xF0, 0x02, 0, 0, 0, 0, 0}).empty());
    } else {
      EXPECT_EQ(Status(reply), c.status);
    }
    EXPECT_EQ(d.ReadByte(0x100000) == 1, c.written);
  }
}

TEST(DeviceDownload, WaitPhaseFaults) {
  Device d({.frameWords = 40,
            .extraCapabilityFrames = 1,
            .readyAsShortFrame = true,
            .otherFramesBeforeReady = 2,
            .readyStatus = 7});
  auto wait = Frames(Exchange(d, Command(1, 0xF000, 1)));
  ASSERT_EQ(wait.size(), 6u);
  EXPECT_EQ(protocol::GetU16(&wait[0][2]), 0x300B);
  EXPECT_NE(protocol::GetU32(&wait[0][8]), 40u);
  EXPECT_NE(protocol::GetU16(&wait[1][2]), 1);
  EXPECT_NE(protocol::GetU16(&wait[2][2]), 1);
  EXPECT_EQ(protocol::GetU32(&wait[3][8]), 40u);  // the later capability frame holds the real W
  EXPECT_EQ(wait[4].size(), 8u);
  EXPECT_EQ(wait[4][0], 0x40);
  EXPECT_EQ(protocol::GetU16(&wait[4][2]), 1);
  EXPECT_EQ(Status(wait[5]), 7u);

  const std::vector<std::pair<CapabilityFault, std::size_t>> faults = {
      {CapabilityFault::kMissing, 0},
      {CapabilityFault::kShort, 8},
      {CapabilityFault::kTooLong, 20}};
  for (auto [fault, size] : faults) {
    Device f({.capabilityFault = fault});
    auto frames = Frames(Exchange(f, Command(1, 0xF000, 1)));
    ASSERT_EQ(frames.size(), size == 0 ? 2u : 3u);
    if (size != 0) {
      EXPECT_EQ(frames[0].size(), size);
    }
  }
}

TEST(DeviceDownload, ShortStatusReplyEndReplyAndCorruption) {
  Device d(
      {.endStatus = 10, .endReference = 2, .shortStatusReply = true, .corruptAddress = 0x100001});
  Exchange(d, Command(1, 0xF000, 1));
  Bytes reply = Exchange(d, DataFrame(0x100000, {1, 2, 3, 4}));
  ASSERT_EQ(reply.size(), 8u);
  EXPECT_EQ(reply[0], 0x40);
  Bytes end = Exchange(d, {0x0D, 0xF0, 0x02, 0, 0, 0, 0, 0});
  EXPECT_EQ(Status(end), 10u);
  EXPECT_EQ(d.ReadMemory(0x100000, 4), (Bytes{1, 0xFD, 3, 4}));
  Exchange(d, {0x0D, 0xF0, 0x02, 0, 0, 0, 0, 0});  // a second end frame does not undo it
  EXPECT_EQ(d.ReadByte(0x100001), 0xFD);
}

TEST(DeviceDownload, StallLastsUntilNewSession) {
  Device d({.stallSegment = 0, .stallFrame = 1});
  Exchange(d, Command(1, 0xF000, 1));
  EXPECT_EQ(Status(Exchange(d, DataFrame(0x100000, {1}))), 0u);
  EXPECT_TRUE(Exchange(d, DataFrame(0x100001, {2})).empty());
  EXPECT_TRUE(Exchange(d, Command(1, 0xF000, 1)).empty());
  d.options().stallSegment = -1;
  Exchange(d, Command(1, 14, 0));
  EXPECT_EQ(Frames(Exchange(d, Command(1, 0xF000, 1))).size(), 3u);
}

TEST(DeviceDownload, WritesOutsideTheWindowAreKept) {
  Device d({.initialMemory = {0x11, 0x22}});
  EXPECT_EQ(d.ReadMemory(kWindowBase, 3), (Bytes{0x11, 0x22, 0xFF}));
  Exchange(d, Command(1, 0xF000, 1));
  Exchange(d, DataFrame(0x200000, {9, 8}));
  EXPECT_EQ(d.ReadMemory(0x200000, 3), (Bytes{9, 8, 0xFF}));
  EXPECT_EQ(d.ReadByte(0), 0xFF);
}

TEST(DeviceInput, GarbageIsRecordedAndIgnored) {
  Device d;
  Exchange(d, {1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(d.events().size(), 1u);
  EXPECT_EQ(d.events()[0].kind, DeviceEvent::Kind::kUnknownFrame);
  // An endless text line is dropped; the device still answers afterwards.
  Bytes longLine(5000, 'x');
  longLine[0] = '~';
  longLine[4998] = '\r';
  longLine[4999] = '\n';
  EXPECT_TRUE(Exchange(d, longLine).empty());
  Bytes out = Exchange(d, Command(0, 15, 0));
  EXPECT_EQ(out.size(), 8u);
  EXPECT_EQ(d.received().size(), 8u + 5000u + 8u);
}

struct TextCase {
  const char* name;
  DeviceOptions options;
  std::string command;
  std::string reply;
};

TEST(DeviceText, Commands) {
  DeviceOptions fw{.state = DeviceState::kFirmware, .firmwareVersion = "1.2"};
  DeviceOptions noVersion = fw;
  noVersion.answerFirmwareVersion = false;
  DeviceOptions lower = fw;
  lower.readBackLowerCase = true;
  DeviceOptions malformed = fw;
  malformed.readBackReply = ReadBackReply::kMalformed;
  DeviceOptions silentRb = fw;
  silentRb.readBackReply = ReadBackReply::kSilent;
  DeviceOptions bootNoRb{.readBackInBootloader = false};
  fw.initialMemory = lower.initialMemory = malformed.initialMemory = {0xAB, 0x0C, 0x7F};
  const std::vector<TextCase> cases = {
      {"version", fw, "~rv\r\n", "~Rv00001.2\r\n"},
      {"version off", noVersion, "~rv\r\n", ""},
      {"garbage before command", fw, "\x01\x02~rv\r\n", "~Rv00001.2\r\n"},
      {"unknown in firmware", fw, "~xyz\r\n", "~Err\r\n"},
      {"unknown in bootloader", {}, "~rv\r\n", ""},
      {"read back", fw, "~du00100000,03\r\n", "~Du0000AB0C7F\r\n"},
      {"read back lower case", lower, "~du00100000,02\r\n", "~Du0000ab0c\r\n"},
      {"read back in bootloader", {}, "~du00100000,01\r\n", "~Du0000FF\r\n"},
      {"read back off in bootloader", bootNoRb, "~du00100000,01\r\n", ""},
      {"read back malformed", malformed, "~du00100000,03\r\n", "~Du0000AB0C\r\n"},
      {"read back silent", silentRb, "~du00100000,03\r\n", ""},
      {"read back too many", fw, "~du00100000,41\r\n", "~Err\r\n"},
      {"read back 64 bytes", fw, "~du00100000,40\r\n",
       "~Du0000AB0C7F" + std::string(122, 'F') + "\r\n"},
      {"read back bad digits", fw, "~du0010000G,01\r\n", "~Err\r\n"},
      {"read back missing comma", fw, "~du00100000 01\r\n", "~Err\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Device d(c.options);
    EXPECT_EQ(AsText(Exchange(d, Text(c.command))), c.reply);
  }
}

TEST(DeviceText, ReadBackFaultFromLaterCommand) {
  Device d({.state = DeviceState::kFirmware,
            .readBackReply = ReadBackReply::kSilent,
            .readBackFaultFrom = 1});
  EXPECT_EQ(AsText(Exchange(d, Text("~du00100000,01\r\n"))), "~Du0000FF\r\n");
  EXPECT_EQ(AsText(Exchange(d, Text("~du00100000,01\r\n"))), "");
}

struct BootCase {
  const char* name;
  BootCommandReply reply;
  bool restarts;
  std::string answer;
  DeviceState after;
};

TEST(DeviceText, BootCommandAndRestart) {
  const std::vector<BootCase> cases = {
      {"acknowledge", BootCommandReply::kAcknowledge, true, "~Dboot\r\n", DeviceState::kBootloader},
      {"silent", BootCommandReply::kSilent, true, "", DeviceState::kBootloader},
      {"refuse", BootCommandReply::kRefuse, true, "~Err\r\n", DeviceState::kFirmware},
      {"no restart", BootCommandReply::kAcknowledge, false, "~Dboot\r\n", DeviceState::kFirmware},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Device d({.state = DeviceState::kFirmware,
              .bootCommandReply = c.reply,
              .restartDelay = std::chrono::milliseconds(2000),
              .bootCommandRestarts = c.restarts});
    d.Receive(Text("~dboot\r\n"), kT0);
    EXPECT_EQ(AsText(d.Transmit(kT0)), c.answer);
    if (c.after == DeviceState::kBootloader) {
      ASSERT_TRUE(d.NextWakeTime().has_value());
      EXPECT_EQ(*d.NextWakeTime(), kT0 + 2000ms);
      // Silent while restarting: neither the firmware nor the bootloader answers.
      d.Receive(Command(0, 15, 0), kT0 + 1000ms);
      d.Receive(Text("~rv\r\n"), kT0 + 1000ms);
      EXPECT_TRUE(d.Transmit(kT0 + 1999ms).empty());
      EXPECT_EQ(d.state(), DeviceState::kFirmware);
    }
    d.Receive(Command(0, 15, 0), kT0 + 2000ms);
    EXPECT_EQ(d.state(), c.after);
    EXPECT_EQ(d.Transmit(kT0 + 2000ms).size(), c.after == DeviceState::kBootloader ? 8u : 0u);
  }
}

TEST(DevicePacing, FrameActedOnOnlyAfterItsTimeOnTheWire) {
  // The 16-byte reply leaves one byte per 86.8 us; the host gets it byte by byte, or (as from a
  // USB-serial adapter) in one packet once its last byte is through.
  struct Case {
    std::uint32_t packetBytes;
    std::size_t afterHalf;  // bytes handed over when 8 bytes are through
    std::size_t afterAll;   // the rest, when all 16 are through
  };
  for (const Case c : {Case{1, 8, 8}, Case{64, 0, 16}, Case{4, 8, 8}, Case{12, 0, 16}}) {
    SCOPED_TRACE(c.packetBytes);
    Device d({.paced = true, .bitsPerSecond = 115200, .packetBytes = c.packetBytes});
    Exchange(d, Command(1, 0xF000, 1), kT0 - 5s);
    Bytes frame = DataFrame(0x100000, Bytes(236, 0x42));
    ASSERT_EQ(frame.size(), 256u);
    d.Receive(frame, kT0);
    // 256 bytes of 10 bits at 115200 bit/s: 22.22 ms.
    const auto wire = std::chrono::nanoseconds(256ull * 10 * 1'000'000'000 / 115200);
    EXPECT_TRUE(d.Transmit(kT0 + wire - 100us).empty());
    EXPECT_EQ(d.ReadByte(0x100000), 0xFF);
    ASSERT_TRUE(d.NextWakeTime().has_value());
    EXPECT_GE(*d.NextWakeTime(), kT0 + wire - 1us);
    EXPECT_LE(*d.NextWakeTime(), kT0 + wire + 100us);
    const auto byteTime = std::chrono::nanoseconds(10ull * 1'000'000'000 / 115200);
    EXPECT_TRUE(d.Transmit(kT0 + wire + 50us).empty());
    EXPECT_EQ(d.ReadByte(0x100000), 0x42);
    // The device wakes for the next byte or packet, never before it is through.
    ASSERT_TRUE(d.NextWakeTime().has_value());
    EXPECT_GE(*d.NextWakeTime(),
              kT0 + wire + byteTime * std::min<std::uint32_t>(c.packetBytes, 16));
    EXPECT_EQ(d.Transmit(kT0 + wire + byteTime * 8 + 10us).size(), c.afterHalf);
    EXPECT_EQ(d.Transmit(kT0 + wire + byteTime * 16 + 10us).size(), c.afterAll);
    EXPECT_FALSE(d.NextWakeTime().has_value());
  }
}

// Each reply leaves a turnaround after the command that caused it, drawn from the range per reply
// and the same for the same seed; paced, its bytes then take their time on the wire.
TEST(DevicePacing, RepliesLeaveATurnaroundAfterTheCommand) {
  auto replyTimes = [](bool paced, std::uint64_t seed) {
    Device d({.paced = paced, .packetBytes = 1, .turnaround = {500us, 1000us}, .chaosSeed = seed});
    const Bytes query = Command(0, 15, 0);
    const auto wire = paced ? std::chrono::nanoseconds(8ull * 10 * 1'000'000'000 / 115200)
                            : std::chrono::nanoseconds(0);
    const auto byteTime = paced ? std::chrono::nanoseconds(10ull * 1'000'000'000 / 115200 + 1)
                                : std::chrono::nanoseconds(0);
    std::vector<Clock::duration> times;
    for (int i = 0; i < 8; ++i) {
      const Clock::time_point at = kT0 + i * 100ms;
      d.Receive(query, at);
      const Clock::time_point through = at + wire;
      EXPECT_TRUE(d.Transmit(through + 499us).empty());
      const auto wake = d.NextWakeTime();
      EXPECT_TRUE(wake.has_value());
      if (!wake)
        break;
      // The first byte of the 8-byte answer: after the turnaround and its own time on the wire.
      EXPECT_GE(*wake, through + 500us + byteTime);
      EXPECT_LE(*wake, through + 1001us + byteTime);
      times.push_back(*wake - through);
      EXPECT_EQ(d.Transmit(through + 1000us + 9 * byteTime).size(), 8u);
    }
    return times;
  };
  for (const bool paced : {false, true}) {
    SCOPED_TRACE(paced);
    const auto first = replyTimes(paced, 7);
    EXPECT_EQ(first, replyTimes(paced, 7));
    EXPECT_NE(first, replyTimes(paced, 8));
    EXPECT_NE(std::count(first.begin(), first.end(), first[0]), 8);  // drawn per reply
  }
}

TEST(DevicePacing, BytesSentInPiecesArriveBackToBack) {
  Device d({.paced = true, .bitsPerSecond = 115200});
  Bytes q = Command(0, 15, 0);
  d.Receive(Bytes(q.begin(), q.begin() + 4), kT0);
  d.Receive(Bytes(q.begin() + 4, q.end()), kT0);  // queued behind the first four
  const auto byteTime = std::chrono::nanoseconds(10ull * 1'000'000'000 / 115200);
  EXPECT_TRUE(d.Transmit(kT0 + byteTime * 7).empty());
  EXPECT_EQ(d.events().size(), 0u);
  d.Transmit(kT0 + byteTime * 8 + 10us);
  EXPECT_EQ(d.events().size(), 1u);
  EXPECT_EQ(d.Transmit(kT0 + byteTime * 16 + 20us).size(), 8u);
}

namespace floods {

// Splits 8-byte version answers (the flood's wrong ones have another code).
std::vector<std::uint16_t> VersionCodes(const Bytes& out) {
  std::vector<std::uint16_t> codes;
  for (std::size_t at = 0; at + 8 <= out.size(); at += 8)
    codes.push_back(protocol::GetU16(&out[at + 2]));
  return codes;
}

TEST(DeviceFlood, WrongVersionAnswersUntilTheHostSpeaks) {
  Device d({.floodWrongVersionAnswers = true, .floodInterval = 10ms});
  d.Receive(Command(0, 15, 0), kT0);
  const Bytes first = d.Transmit(kT0 + 1s);
  ASSERT_EQ(first.size() % 8, 0u);
  const auto codes = VersionCodes(first);
  EXPECT_EQ(codes.size(), 101u);  // one at once, then one every 10 ms
  for (std::uint16_t code : codes)
    EXPECT_NE(code, 15);                      // never the right answer
  ASSERT_TRUE(d.NextWakeTime().has_value());  // the flood goes on by itself

  d.Receive(Text("~"), kT0 + 1s);  // any byte from the host ends it
  EXPECT_TRUE(d.Transmit(kT0 + 5s).empty());
  EXPECT_FALSE(d.NextWakeTime().has_value());
}

TEST(DeviceFlood, OtherFramesInTheWaitPhaseNeverReady) {
  Device d({.floodOtherFramesInWaitPhase = true, .floodInterval = 10ms});
  d.Receive(Command(1, 0xF000, 1), kT0);
  const auto frames = Frames(d.Transmit(kT0 + 6s));
  EXPECT_EQ(frames.size(), 601u);
  for (const Bytes& f : frames) {
    EXPECT_EQ(protocol::GetU16(&f[2]),
              0x3005);  // neither capability (0x300B) nor ready (1) nor status
  }
  // A new start command ends the flood; the device still counts segments.
  d.options().floodOtherFramesInWaitPhase = false;
  const auto normal = Frames(Exchange(d, Command(1, 0xF000, 1), kT0 + 6s));
  ASSERT_EQ(normal.size(), 3u);
  EXPECT_EQ(protocol::GetU16(&normal[0][2]), 0x300B);
}

}  // namespace floods

namespace chaos {

// The same 2000 bytes pushed through one direction of a noisy line: from the host into a
// firmware that ignores them (received() shows what arrived), or from the device as read-back
// replies. Returns what came out at the far end, with the line's cuts.
struct Passage {
  Bytes sent;
  Bytes arrived;
  int cuts = 0;
};

Bytes ReadBackCommands(int count) {
  Bytes cmds;
  for (int i = 0; i < count; ++i) {
    const Bytes line = Text("~du00100000,40\r\n");
    cmds.insert(cmds.end(), line.begin(), line.end());
  }
  return cmds;
}

Passage ThroughTheLine(bool toHost, LineChaos rates, std::uint64_t seed) {
  Bytes memory(64);
  for (std::size_t i = 0; i < memory.size(); ++i)
    memory[i] = static_cast<std::uint8_t>(i * 7 + 1);
  DeviceOptions o{.state = DeviceState::kFirmware, .chaosSeed = seed, .initialMemory = memory};
  (toHost ? o.toHost : o.toDevice) = rates;
  Device d(std::move(o));
  Passage p;
  if (toHost) {
    Device clean({.state = DeviceState::kFirmware, .initialMemory = memory});
    p.sent = Exchange(clean, ReadBackCommands(15));
    p.arrived = Exchange(d, ReadBackCommands(15));
  } else {
    for (int i = 0; i < 2000; ++i)
      p.sent.push_back(static_cast<std::uint8_t>('0' + i % 64));  // no '~': nothing is answered
    d.Receive(p.sent, kT0);
    d.Transmit(kT0 + 10s);
    p.arrived = d.received();
  }
  p.cuts = d.TakeLineCuts();
  return p;
}

// Whether `part` is `whole` with some bytes left out.
bool IsSubsequence(const Bytes& part, const Bytes& whole) {
  std::size_t at = 0;
  for (std::uint8_t b : whole) {
    if (at < part.size() && part[at] == b)
      ++at;
  }
  return at == part.size();
}

TEST(DeviceChaos, EachKindInEachDirection) {
  struct Case {
    const char* name;
    LineChaos rates;
  };
  const Case cases[] = {{"drop", {.drop = 0.05}},
                        {"flip", {.flip = 0.05}},
                        {"duplicate", {.duplicate = 0.05}},
                        {"cut", {.cut = 0.002}}};
  for (bool toHost : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (toHost ? " to host" : " to device"));
      const Passage p = ThroughTheLine(toHost, c.rates, 7);
      ASSERT_GT(p.sent.size(), 1900u);
      const std::string kind = c.name;
      if (kind == "drop") {
        EXPECT_TRUE(IsSubsequence(p.arrived, p.sent));
        EXPECT_GT(p.arrived.size(), p.sent.size() * 90 / 100);
        EXPECT_LT(p.arrived.size(), p.sent.size());
      } else if (kind == "flip") {
        ASSERT_EQ(p.arrived.size(), p.sent.size());
        int flipped = 0;
        for (std::size_t i = 0; i < p.sent.size(); ++i) {
          const unsigned diff = p.sent[i] ^ p.arrived[i];
          EXPECT_TRUE(diff == 0 || (diff & (diff - 1)) == 0) << "one bit at most, byte " << i;
          flipped += diff != 0;
        }
        EXPECT_GT(flipped, 40);
        EXPECT_LT(flipped, 200);
      } else if (kind == "duplicate") {
        EXPECT_TRUE(IsSubsequence(p.sent, p.arrived));
        EXPECT_GT(p.arrived.size(), p.sent.size());
        EXPECT_LT(p.arrived.size(), p.sent.size() * 110 / 100);
      } else {
        // The first cut loses the rest of what was on the line (all of it was sent at once).
        EXPECT_EQ(p.cuts, 1);
        EXPECT_LT(p.arrived.size(), p.sent.size());
        EXPECT_TRUE(std::equal(p.arrived.begin(), p.arrived.end(), p.sent.begin()));
      }
    }
  }
}

TEST(DeviceChaos, ReproducibleFromItsSeed) {
  const LineChaos noisy{.drop = 0.02, .flip = 0.02, .duplicate = 0.02};
  for (bool toHost : {false, true}) {
    EXPECT_EQ(ThroughTheLine(toHost, noisy, 11).arrived, ThroughTheLine(toHost, noisy, 11).arrived);
    EXPECT_NE(ThroughTheLine(toHost, noisy, 11).arrived, ThroughTheLine(toHost, noisy, 12).arrived);
  }
}

TEST(DeviceChaos, DelayHoldsABurstBackInOrder) {
  for (bool toHost : {false, true}) {
    SCOPED_TRACE(toHost ? "to host" : "to device");
    DeviceOptions o{.state = DeviceState::kFirmware, .chaosDelay = 200ms};
    (toHost ? o.toHost : o.toDevice).delay = 0.01;
    Device d(std::move(o));
    d.Receive(ReadBackCommands(15), kT0);
    const std::size_t early = d.Transmit(kT0 + 1ms).size();
    ASSERT_TRUE(d.NextWakeTime().has_value());
    EXPECT_GT(*d.NextWakeTime(), kT0 + 1ms);  // a wait, not a spin
    std::size_t later = 0;
    for (int wakes = 0; d.NextWakeTime() && wakes < 1000; ++wakes)
      later += d.Transmit(*d.NextWakeTime()).size();
    Device clean({.state = DeviceState::kFirmware});
    const std::size_t expected = Exchange(clean, ReadBackCommands(15)).size();
    EXPECT_LT(early, expected);
    EXPECT_EQ(early + later, expected);  // late, but nothing lost
  }
}

TEST(DeviceChaos, CutLineComesBackAfterItsTime) {
  Device d({.toDevice = {.cut = 1.0}, .chaosCutTime = 300ms});
  EXPECT_TRUE(Exchange(d, Command(0, 15, 0)).empty());
  EXPECT_EQ(d.TakeLineCuts(), 1);
  EXPECT_EQ(d.TakeLineCuts(), 0);
  d.options().toDevice.cut = 0;
  EXPECT_TRUE(Exchange(d, Command(0, 15, 0), kT0 + 100ms).empty());  // still cut: lost
  EXPECT_EQ(Exchange(d, Command(0, 15, 0), kT0 + 300ms).size(), 8u);
}

}  // namespace chaos

}  // namespace
}  // namespace vantor::devsim
