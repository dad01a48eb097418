// The simulated device behind a real pseudo-terminal, opened here with plain open() and termios:
// it answers, survives the host closing and reopening the port, hangs up on Disconnect and when
// its line is cut, and costs no CPU while idle.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "devsim/pty_transport.h"

namespace vantor::devsim {
namespace {

using namespace std::chrono_literals;

int OpenRaw(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return fd;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads until `count` bytes are in or 3 s have passed.
std::vector<std::uint8_t> ReadSome(int fd, std::size_t count) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0)
      continue;
    std::uint8_t buf[64];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0)
      got.insert(got.end(), buf, buf + n);
  }
  return got;
}

std::vector<std::uint8_t> AskVersion(int fd) {
  const std::uint8_t query[8] = {0, 0, 0x0F, 0, 0, 0, 0, 0};
  EXPECT_EQ(::write(fd, query, 8), 8);
  return ReadSome(fd, 8);
}

TEST(PtyDevice, AnswersAcrossReopenAndHangsUpOnDisconnect) {
  int error = -1;
  auto pty = PtyDevice::Start({.bootVersion = 0x01020304}, &error);
  ASSERT_NE(pty, nullptr) << error;
  EXPECT_EQ(error, 0);

  int fd = OpenRaw(pty->path());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(AskVersion(fd), (std::vector<std::uint8_t>{0, 0, 0x0F, 0, 0x04, 0x03, 0x02, 0x01}));
  ::close(fd);

  fd = OpenRaw(pty->path());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(AskVersion(fd).size(), 8u);

  int queries = 0;
  pty->With([&](Device& d) {
    for (const auto& e : d.events())
      queries += e.kind == DeviceEvent::Kind::kVersionQuery;
  });
  EXPECT_EQ(queries, 2);

  pty->Disconnect();
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
  ::close(fd);
}

TEST(PtyDevice, CutLineHangsUpTheHostThenTheDeviceAnswersAgain) {
  auto pty = PtyDevice::Start({.toDevice = {.cut = 1.0}, .chaosCutTime = 200ms});
  ASSERT_NE(pty, nullptr);
  int fd = OpenRaw(pty->path());
  ASSERT_GE(fd, 0);
  const std::uint8_t query[8] = {0, 0, 0x0F, 0, 0, 0, 0, 0};
  ASSERT_EQ(::write(fd, query, 8), 8);  // its first byte cuts the line
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
  std::uint8_t byte = 0;
  EXPECT_LE(::read(fd, &byte, 1), 0);  // hung up: nothing came back
  ::close(fd);

  pty->With([](Device& d) { d.options().toDevice.cut = 0; });
  std::this_thread::sleep_for(250ms);  // the cut's time
  fd = OpenRaw(pty->path());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(AskVersion(fd).size(), 8u);
  ::close(fd);
}

TEST(PtyDevice, PacedDeviceAnswersOverThePty) {
  auto pty = PtyDevice::Start({.state = DeviceState::kFirmware, .paced = true});
  ASSERT_NE(pty, nullptr);
  int fd = OpenRaw(pty->path());
  ASSERT_GE(fd, 0);
  const char cmd[] = "~rv\r\n";
  ASSERT_EQ(::write(fd, cmd, 5), 5);
  auto reply = ReadSome(fd, 12);
  EXPECT_EQ(std::string(reply.begin(), reply.end()), "~Rv00001.2\r\n");
  ::close(fd);
}

// A resource check, not a timing test: an idle device blocks in poll.
TEST(PtyDevice, IdleCostsNoCpu) {
  auto pty = PtyDevice::Start({});
  ASSERT_NE(pty, nullptr);
  int fd = OpenRaw(pty->path());
  ASSERT_GE(fd, 0);
  auto cpu = [] {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
  };
  const auto before = cpu();
  std::this_thread::sleep_for(1s);
  const auto used = cpu() - before;
  EXPECT_LT(used, 50ms);  // under 5 % of the second
  ::close(fd);
}

}  // namespace
}  // namespace vantor::devsim
