// A production station's scale: 1, 8, 16 and 32 simulated devices paced at 115200 bit/s take the
// same 16 KiB BOOT image at once through the real vantor binary (one process, a worker per port),
// then give 16 KiB back to one "vantor read" process each. Wall times against one device, and the
// host's CPU per device (the vantor processes' own, from wait4) while they mostly wait for the
// line. The devices hand their bytes over in USB-sized packets, as an adapter does; one more run
// of 32 shows the download on a line that hands over every byte alone.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "devsim/pty_transport.h"

extern char** environ;

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBootAddress = 0x100000;
constexpr std::size_t kImageSize = 16 * 1024;
// The boot slot's region that "read boot" reads back.
constexpr std::uint32_t kReadAddress = 0x138000;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < kImageSize; ++i)
    image[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8));
  return image;
}

std::vector<std::unique_ptr<devsim::PtyDevice>> StartDevices(std::size_t count,
                                                             std::uint32_t packetBytes = 0) {
  std::vector<std::unique_ptr<devsim::PtyDevice>> sims;
  for (std::size_t i = 0; i < count; ++i) {
    devsim::DeviceOptions options;
    options.paced = true;
    if (packetBytes != 0)
      options.packetBytes = packetBytes;
    sims.push_back(devsim::PtyDevice::Start(options));
    if (!sims.back()) {
      std::fprintf(stderr, "no pseudo-terminal\n");
      std::exit(1);
    }
  }
  return sims;
}

bool AllHold(std::vector<std::unique_ptr<devsim::PtyDevice>>& sims) {
  bool same = true;
  for (auto& sim : sims) {
    sim->With([&](devsim::Device& d) {
      same = same && d.ReadMemory(kBootAddress, kImageSize) == Image();
    });
  }
  return same;
}

struct ProcessRun {
  double wall = -1;
  double hostCpu = 0;    // the vantor processes and their workers, user + system
  double deviceCpu = 0;  // this process: the simulated devices' threads
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double SelfCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Runs every command line at once and waits for all; the wall time covers them all, the host CPU
// is what they and their own children used.
ProcessRun RunAll(const std::vector<std::vector<std::string>>& commands) {
  ProcessRun run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", 1, 0);
  const double selfBefore = SelfCpuSeconds();
  const auto start = Clock::now();
  std::vector<pid_t> pids;
  for (const auto& command : commands) {
    std::vector<char*> argv;
    for (const auto& a : command)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
      pids.push_back(pid);
  }
  posix_spawn_file_actions_destroy(&actions);
  bool ok = pids.size() == commands.size();
  for (const pid_t pid : pids) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);  // a vantor process's usage includes its reaped workers
    run.hostCpu += Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  run.deviceCpu = SelfCpuSeconds() - selfBefore;
  if (ok)
    run.wall = wall;
  return run;
}

// All devices at once through one vantor process (one worker per port).
ProcessRun Download(std::size_t devices, const std::string& image, std::uint32_t packetBytes = 0) {
  auto sims = StartDevices(devices, packetBytes);
  std::vector<std::string> command{VANTOR_BINARY, "--quiet", "download", "--no-redetect"};
  for (auto& sim : sims)
    command.insert(command.end(), {"-p", sim->path()});
  command.push_back("BOOT=" + image);
  ProcessRun run = RunAll({command});
  if (run.wall > 0 && !AllHold(sims)) {
    std::fprintf(stderr, "device memory differs from the image\n");
    run.wall = -1;
  }
  return run;
}

// One "vantor read" per device at once (read takes one port), each the 16 KiB boot region.
ProcessRun ReadBack(std::size_t devices, const std::string& folder) {
  auto sims = StartDevices(devices);
  std::vector<std::vector<std::string>> commands;
  for (std::size_t i = 0; i < devices; ++i) {
    sims[i]->With([](devsim::Device& d) { d.WriteMemory(kReadAddress, Image()); });
    const std::string out = folder + "/" + std::to_string(i);
    std::filesystem::create_directories(out);
    commands.push_back(
        {VANTOR_BINARY, "--quiet", "read", "-p", sims[i]->path(), "boot", "-o", out});
  }
  return RunAll(commands);
}

void Print(const char* what, std::size_t n, const ProcessRun& run, double one,
           const char* note = "") {
  if (run.wall <= 0) {
    std::printf("%-9s %2zu devices: FAILED%s\n", what, n, note);
    return;
  }
  std::printf(
      "%-9s %2zu devices: wall %.3f s  ratio to 1: %.3f  host CPU %.3f s = %.2f %% of a core per "
      "device  (simulated devices %.2f s)%s\n",
      what, n, run.wall, one > 0 ? run.wall / one : 1.0, run.hostCpu,
      100.0 * run.hostCpu / run.wall / static_cast<double>(n), run.deviceCpu, note);
}

}  // namespace

int main() {
  const std::string folder = "/tmp/station_bench." + std::to_string(getpid());
  std::filesystem::create_directories(folder);
  const std::string image = folder + "/boot.bin";
  {
    std::ofstream out(image, std::ios::binary);
    const auto bytes = Image();
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  std::printf(
      "16 KiB at once into paced simulated devices (115200 bit/s, 64-byte packets); host CPU = "
      "the vantor processes (start-up, detection and workers included)\n");
  bool ok = true;
  for (const char* what : {"download", "read-back"}) {
    double one = 0;
    for (const std::size_t n : {1, 8, 16, 32}) {
      const ProcessRun run = what[0] == 'd' ? Download(n, image) : ReadBack(n, folder);
      if (n == 1)
        one = run.wall;
      ok = ok && run.wall > 0;
      Print(what, n, run, one);
    }
    if (what[0] == 'd') {
      const ProcessRun run = Download(32, image, 1);
      ok = ok && run.wall > 0;
      Print(what, 32, run, one, "  [every byte handed over alone]");
    }
  }
  std::filesystem::remove_all(folder);
  return ok ? 0 : 1;
}
