// SerialPort over a real pseudo-terminal: line settings, exclusivity, non-waiting reads, the byte
// trace, the wait that blocks until input arrives and the wait for the rest of a reply.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/debug_output.h"
#include "serial/serial_port.h"
#include "support/pty_pair.h"

namespace vantor::serial {
namespace {

// Collects what the code sends to DebugOutput while it lives.
class TraceCapture {
 public:
  TraceCapture() {
    SetDebugSink([this](std::string_view text) { lines.emplace_back(text); });
  }
  ~TraceCapture() { SetDebugSink({}); }
  std::vector<std::string> lines;
};

TEST(SerialPortTest, OpenAppliesTheLineSettings) {
  testing::PtyPair pty;
  auto port = CreatePort(pty.path());
  ASSERT_TRUE(port->IsOpen()) << SystemErrorText(SerialPort::LastOpenError());
  EXPECT_EQ(port->reopenPort, pty.path());
  EXPECT_EQ(port->inQueueSize, 20480u);
  EXPECT_EQ(port->outQueueSize, 1024u);

  termios tio{};
  ASSERT_EQ(tcgetattr(static_cast<int>(port->handle), &tio), 0);
  EXPECT_EQ(cfgetispeed(&tio), B115200);
  EXPECT_EQ(cfgetospeed(&tio), B115200);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
  EXPECT_NE(tio.c_cflag & CREAD, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);

  // Modem lines: raised where the node has them; a pseudo-terminal has none.
  int lines = 0;
  if (ioctl(static_cast<int>(port->handle), TIOCMGET, &lines) == 0) {
    EXPECT_NE(lines & TIOCM_DTR, 0);
    EXPECT_NE(lines & TIOCM_RTS, 0);
  } else {
    EXPECT_TRUE(errno == ENOTTY || errno == EINVAL) << errno;
  }
}

TEST(SerialPortTest, SecondOpenOfTheSamePortFails) {
  testing::PtyPair pty;
  auto first = CreatePort(pty.path());
  ASSERT_TRUE(first->IsOpen());
  auto second = CreatePort(pty.path());
  EXPECT_EQ(second->handle, kInvalidHandle);
  EXPECT_NE(SerialPort::LastOpenError(), 0);
  // Once the first owner closes, the port opens again.
  first->Close();
  auto third = CreatePort(pty.path());
  EXPECT_TRUE(third->IsOpen());
}

TEST(SerialPortTest, OpenOfAMissingPortFailsWithTheSystemReason) {
  SerialPort port;
  EXPECT_EQ(port.Open("/dev/does-not-exist-ttyUSB99"), kInvalidHandle);
  EXPECT_EQ(port.handle, kInvalidHandle);
  EXPECT_EQ(SerialPort::LastOpenError(), ENOENT);
  port.Close();  // the owner's close step does nothing on a closed port
  EXPECT_EQ(port.handle, kInvalidHandle);
}

TEST(SerialPortTest, ReadWithNothingPendingReturnsAtOnceAndTracesNothing) {
  testing::PtyPair pty;
  auto port = CreatePort(pty.path());
  ASSERT_TRUE(port->IsOpen());
  TraceCapture trace;
  std::uint8_t buffer[64];
  std::uint32_t count = sizeof buffer;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->Read(buffer, count), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(trace.lines.empty());

  pty.Write(std::string("abc"));
  ASSERT_EQ(port->WaitReadable(std::chrono::seconds(2)), 0);
  count = sizeof buffer;
  EXPECT_EQ(port->Read(buffer, count), 0);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(trace.lines, std::vector<std::string>{"Rx : 61 62 63 \n"});
}

TEST(SerialPortTest, WriteTracesLinesOfSixteenBytes) {
  testing::PtyPair pty;
  auto port = CreatePort(pty.path());
  ASSERT_TRUE(port->IsOpen());
  TraceCapture trace;
  std::vector<std::uint8_t> bytes(17);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
  std::uint32_t count = 17;
  ASSERT_EQ(port->Write(bytes.data(), count), 0);
  EXPECT_EQ(count, 17u);
  ASSERT_EQ(trace.lines.size(), 2u);
  EXPECT_EQ(trace.lines[0], "Tx : f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \n");
  EXPECT_EQ(trace.lines[1], "Tx : 00 \n");
  EXPECT_EQ(pty.Read(17), bytes);
}

TEST(SerialPortTest, UntracedPortTracesNothing) {
  testing::PtyPair pty;
  auto port = CreatePort(pty.path(), /*trace=*/false);
  ASSERT_TRUE(port->IsOpen());
  TraceCapture trace;
  const std::uint8_t bytes[] = {1, 2, 3};
  std::uint32_t count = 3;
  ASSERT_EQ(port->Write(bytes, count), 0);
  EXPECT_TRUE(trace.lines.empty());
}

TEST(TraceBytesTest, OneLinePerSixteenBytes) {
  struct Case {
    std::size_t count;
    std::vector<std::size_t> lineBytes;
  };
  const Case cases[] = {{0, {}}, {1, {1}}, {16, {16}}, {20, {16, 4}}, {33, {16, 16, 1}}};
  for (const auto& c : cases) {
    TraceCapture trace;
    std::vector<std::uint8_t> bytes(c.count, 0xAB);
    TraceBytes("Rx : ", bytes.data(), bytes.size());
    ASSERT_EQ(trace.lines.size(), c.lineBytes.size()) << c.count;
    for (std::size_t i = 0; i < c.lineBytes.size(); ++i) {
      std::string expected = "Rx : ";
      for (std::size_t b = 0; b < c.lineBytes[i]; ++b)
        expected += "ab ";
      EXPECT_EQ(trace.lines[i], expected + "\n");
    }
  }
}

TEST(SerialPortTest, WaitReadableWakesOnInputAndReportsAVanishedDevice) {
  testing::PtyPair pty;
  auto port = CreatePort(pty.path());
  ASSERT_TRUE(port->IsOpen());

  // Silence: the wait lasts its time-out and reports nothing wrong.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->WaitReadable(std::chrono::milliseconds(100)), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

  // Input arriving later ends the wait early.
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.Write(std::string("x"));
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->WaitReadable(std::chrono::seconds(5)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  writer.join();

  pty.CloseMaster();
  EXPECT_EQ(port->WaitReadable(std::chrono::seconds(5)), EIO);
}

// The wait for the rest of a reply sleeps for all but the last 500 us of its wire time and leaves
// those bytes to the port's poll: a timer that fires late must not hold a reply whose last byte is
// already in.
TEST(SerialPortTest, WaitForRestLeavesTheLastBytesToThePoll) {
  using namespace std::chrono_literals;
  testing::PtyPair pty;
  auto port = CreatePort(pty.path(), false);
  ASSERT_TRUE(port->IsOpen());
  using Clock = std::chrono::steady_clock;

  // A rest of 100 bytes (8.7 ms): a sleep, over before the rest is due, with nothing arriving.
  auto start = Clock::now();
  EXPECT_EQ(port->WaitForRest(100, false, start + 2s), 0);
  auto took = Clock::now() - start;
  EXPECT_GE(took, WireTime(100) - 500us);
  EXPECT_LT(took, 1s);

  // A rest of two bytes is within the margin: the wait lasts until input comes, not 174 us.
  std::thread writer([&] {
    std::this_thread::sleep_for(50ms);
    pty.Write(std::string("x"));
  });
  start = Clock::now();
  EXPECT_EQ(port->WaitForRest(2, false, start + 5s), 0);
  took = Clock::now() - start;
  writer.join();
  EXPECT_GE(took, 45ms);
  EXPECT_LT(took, 4s);

  // Once rested, the same: the poll until input or the deadline.
  start = Clock::now();
  std::uint8_t byte = 0;
  std::uint32_t count = 1;
  ASSERT_EQ(port->Read(&byte, count), 0);
  EXPECT_EQ(port->WaitForRest(100, true, start + 100ms), 0);
  EXPECT_GE(Clock::now() - start, 95ms);
}

}  // namespace
}  // namespace vantor::serial
