// Tests: the production station as a real process against simulated devices whose
// pseudo-terminals are linked into a folder that --match globs, the devices behind them, and
// their production records read back.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "devsim/pty_transport.h"
#include "support/flat_json.h"
#include "support/test_files.h"

namespace vantor::cli::rig {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr std::uint32_t kRigBootAddress = 0x100000;

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A folder of port links, the devices behind them, and the station as a child process.
class StationTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(m_dir / "rig"); }
  // Before the folder goes with the fixture, so no station still writes into it.
  void TearDown() override {
    for (const pid_t pid : m_spawned) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  devsim::PtyDevice& AddDevice(devsim::DeviceOptions options = {}) {
    m_devices.push_back(devsim::PtyDevice::Start(std::move(options)));
    EXPECT_TRUE(m_devices.back());
    return *m_devices.back();
  }
  // Makes device `index` appear as rig/port<index> (or disappear).
  void Link(std::size_t index) { fs::create_symlink(m_devices[index]->path(), Port(index)); }
  void LinkInto(const std::string& rig, std::size_t index) {
    fs::create_symlink(m_devices[index]->path(), m_dir / rig / ("port" + std::to_string(index)));
  }
  void Unlink(std::size_t index) { fs::remove(Port(index)); }
  std::string Port(std::size_t index) const {
    return (m_dir / "rig" / ("port" + std::to_string(index))).string();
  }
  std::string Image(const std::vector<std::uint8_t>& bytes) {
    const fs::path path = m_dir / "boot.bin";
    testing::WriteFileBytes(path, bytes);
    return path.string();
  }
  std::string Record() const { return (m_dir / "rec.jsonl").string(); }

  void Start(std::vector<std::string> args) {
    m_pid = Spawn(std::move(args), "rig", "");
    ASSERT_GE(m_pid, 0);
  }
  // A station watching m_dir/<rig>/port*, its output in out<tag>.txt and err<tag>.txt.
  pid_t Spawn(std::vector<std::string> args, const std::string& rig, const std::string& tag) {
    fs::create_directories(m_dir / rig);
    args.insert(args.begin(),
                {VANTOR_BINARY, "station", "--match", (m_dir / rig).string() + "/port*"});
    const std::string out = (m_dir / ("out" + tag + ".txt")).string();
    const std::string err = (m_dir / ("err" + tag + ".txt")).string();
    fs::remove(out);  // what an earlier run wrote must not pass for this one's
    const pid_t pid = ::fork();
    if (pid > 0)
      m_spawned.push_back(pid);
    if (pid != 0)
      return pid;
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    ExecVantor(args);
  }
  // In a forked child: runs the tool with `args` (args[0] is its path); never returns.
  [[noreturn]] static void ExecVantor(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(VANTOR_BINARY, argv.data());
    ::_exit(127);
  }
  // The station's exit code, or -1 when it did not end within `limit`.
  int Finish(std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
    return Finish(m_pid, limit);
  }
  int Finish(pid_t& pid, std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit);
    if (!ended)
      return -1;
    std::erase(m_spawned, pid);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  }
  std::string Output(const char* name = "out.txt") const {
    return testing::ReadFileText(m_dir / name);
  }
  std::vector<std::map<std::string, std::string>> RecordLines() const {
    std::vector<std::map<std::string, std::string>> lines;
    std::ifstream in(Record());
    for (std::string line; std::getline(in, line);)
      lines.push_back(ParseRecord(line));
    return lines;
  }
  // A record line with its nested objects flattened to "usb.vid", "result.code",
  // "images.0.sha256"; a line that is not a JSON object fails the test.
  static testing::JsonMembers ParseRecord(const std::string& line) {
    const auto fields = testing::FlattenJson(line);
    EXPECT_TRUE(fields) << line;
    return fields.value_or(testing::JsonMembers{});
  }
  static int Sessions(devsim::PtyDevice& device) {
    int count = 0;
    device.With([&](devsim::Device& d) {
      for (const auto& e : d.events())
        count += e.kind == devsim::DeviceEvent::Kind::kOpenSession;
    });
    return count;
  }
  // Whether the first `count` devices have each taken a data frame (their download has begun).
  bool Writing(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      bool writing = false;
      m_devices[i]->With([&](devsim::Device& d) {
        for (const auto& e : d.events())
          writing = writing || e.kind == devsim::DeviceEvent::Kind::kDataFrame;
      });
      if (!writing)
        return false;
    }
    return true;
  }
  static bool Holds(devsim::PtyDevice& device, const std::vector<std::uint8_t>& bytes) {
    bool same = false;
    device.With(
        [&](devsim::Device& d) { same = d.ReadMemory(kRigBootAddress, bytes.size()) == bytes; });
    return same;
  }

  testing::TempFolder m_folder;
  const fs::path m_dir = m_folder.path();
  std::vector<std::unique_ptr<devsim::PtyDevice>> m_devices;
  pid_t m_pid = -1;
  std::vector<pid_t> m_spawned;  // killed at the end unless they ended
};

}  // namespace vantor::cli::rig
