// SIGINT, SIGTERM and SIGHUP against the real vantor program in the middle of a paced transfer: it
// ends within a second with 130, 143 or 129 after a "cancelled" line, the port opens again at once,
// a cancelled read leaves no file, and several workers are all cancelled.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "devsim/pty_transport.h"
#include "serial/serial_port.h"
#include "support/test_files.h"

extern char** environ;

namespace vantor::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The vantor program running with its output in files.
class Program {
 public:
  Program(const fs::path& dir, std::vector<std::string> args)
      : m_out(dir / "out"), m_err(dir / "err") {
    args.insert(args.begin(), VANTOR_BINARY);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  void Signal(int signo) { ::kill(m_pid, signo); }
  // The exit status (or 128 + the signal that killed it), or -1 when it still runs after `limit`.
  int Wait(std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  std::string Out() const { return vantor::testing::ReadFileText(m_out); }
  std::string Err() const { return vantor::testing::ReadFileText(m_err); }

 private:
  pid_t m_pid = -1;
  fs::path m_out;
  fs::path m_err;
};

class SignalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "saved");
    vantor::testing::WriteFileBytes(m_dir / "code.bin", std::vector<std::uint8_t>(0x18000, 0x3C));
  }

  std::unique_ptr<devsim::PtyDevice> PacedDevice() {
    devsim::DeviceOptions options;
    options.paced = true;
    auto device = devsim::PtyDevice::Start(options);
    EXPECT_TRUE(device);
    return device;
  }
  std::size_t Received(devsim::PtyDevice& device) {
    std::size_t n = 0;
    device.With([&](devsim::Device& d) { n = d.received().size(); });
    return n;
  }

  vantor::testing::TempFolder m_folder;
  const fs::path m_dir = m_folder.path();
};

TEST_F(SignalTest, SignalsCancelADownloadAtOnceAndFreeThePort) {
  for (const int signo : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signo);
    auto device = PacedDevice();
    Program vantor(m_dir,
                   {"download", "-p", device->path(), "CODE=" + (m_dir / "code.bin").string()});
    std::this_thread::sleep_for(1500ms);  // in the middle of the data frames
    vantor.Signal(signo);
    const auto signalled = Clock::now();
    EXPECT_EQ(vantor.Wait(3000ms), 128 + signo) << vantor.Err();
    EXPECT_LT(Clock::now() - signalled, 1000ms);
    EXPECT_NE(vantor.Err().find("cancelled"), std::string::npos) << vantor.Err();
    auto port = serial::CreatePort(device->path(), false);
    EXPECT_TRUE(port->IsOpen());
  }
}

TEST_F(SignalTest, CancelledReadLeavesNoFile) {
  auto device = PacedDevice();
  Program vantor(m_dir, {"read", "-p", device->path(), "boot", "-o", (m_dir / "saved").string()});
  std::this_thread::sleep_for(1000ms);
  vantor.Signal(SIGINT);
  EXPECT_EQ(vantor.Wait(3000ms), 130) << vantor.Err();
  EXPECT_TRUE(fs::is_empty(m_dir / "saved"));
}

TEST_F(SignalTest, EveryWorkerOfSeveralPortsIsCancelled) {
  auto first = PacedDevice();
  auto second = PacedDevice();
  Program vantor(m_dir, {"download", "--no-redetect", "-p", first->path(), "-p", second->path(),
                         "CODE=" + (m_dir / "code.bin").string()});
  std::this_thread::sleep_for(2000ms);
  vantor.Signal(SIGINT);
  EXPECT_EQ(vantor.Wait(3000ms), 130) << vantor.Err();
  const std::string table = vantor.Out();
  for (auto* device : {first.get(), second.get()}) {
    const auto row = table.find(device->path() + " ");
    ASSERT_NE(row, std::string::npos) << table;
    EXPECT_NE(table.substr(row, table.find('\n', row) - row).find("cancelled"), std::string::npos)
        << table;
  }
  // Nothing flashes on after the program ended.
  const std::size_t before = Received(*first) + Received(*second);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(Received(*first) + Received(*second), before);
}

// Started with SIGHUP ignored (nohup), the station keeps ignoring it: a SIGHUP and then a SIGTERM
// while it waits end it as the SIGTERM alone does (0), not as a hang-up (129).
TEST_F(SignalTest, AHangUpIgnoredFromTheStartStaysIgnored) {
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGHUP, &ignore, &previous);
  Program vantor(m_dir, {"station", "--match", (m_dir / "none*").string(),
                         "CODE=" + (m_dir / "code.bin").string()});
  ::sigaction(SIGHUP, &previous, nullptr);
  const auto end = Clock::now() + 5000ms;
  while (vantor.Out().find("watching") == std::string::npos && Clock::now() < end)
    std::this_thread::sleep_for(20ms);
  ASSERT_NE(vantor.Out().find("watching"), std::string::npos) << vantor.Err();
  vantor.Signal(SIGHUP);
  vantor.Signal(SIGTERM);
  EXPECT_EQ(vantor.Wait(3000ms), 0) << vantor.Out() << vantor.Err();
}

}  // namespace
}  // namespace vantor::cli
