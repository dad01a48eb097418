// Several devices at once: the real vantor binary downloads the same CODE image into one, then
// into eight simulated devices paced at 115200 bit/s (one worker process per port), and prints
// both wall times and their ratio. The devices run in this process, mostly waiting on the line.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "devsim/pty_transport.h"

extern char** environ;

namespace {

constexpr std::size_t kImageSize = 98304;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < kImageSize; ++i)
    image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
  return image;
}

double RunVantor(std::size_t devices, const std::string& image) {
  std::vector<std::unique_ptr<vantor::devsim::PtyDevice>> sims;
  std::vector<std::string> args{VANTOR_BINARY, "--quiet", "download", "--no-redetect"};
  for (std::size_t i = 0; i < devices; ++i) {
    vantor::devsim::DeviceOptions options;
    options.paced = true;
    sims.push_back(vantor::devsim::PtyDevice::Start(options));
    if (!sims.back()) {
      std::fprintf(stderr, "no pseudo-terminal\n");
      return -1;
    }
    args.push_back("-p");
    args.push_back(sims.back()->path());
  }
  args.push_back("CODE=" + image);
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", 1, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    return -1;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "vantor failed (status %d)\n", status);
    return -1;
  }
  for (auto& sim : sims) {
    bool same = false;
    sim->With(
        [&](vantor::devsim::Device& d) { same = d.ReadMemory(0x108000, kImageSize) == Image(); });
    if (!same) {
      std::fprintf(stderr, "device memory differs from the image\n");
      return -1;
    }
  }
  return seconds;
}

}  // namespace

int main() {
  const std::string image = "/tmp/multi_device_bench." + std::to_string(getpid()) + ".bin";
  {
    std::ofstream out(image, std::ios::binary);
    const auto bytes = Image();
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  std::printf("CODE image %zu bytes, devices paced at 115200 bit/s, download --no-redetect\n",
              kImageSize);
  const double one = RunVantor(1, image);
  std::printf("1 device:  %.2f s\n", one);
  const double eight = RunVantor(8, image);
  std::printf("8 devices: %.2f s\n", eight);
  std::remove(image.c_str());
  if (one <= 0 || eight <= 0)
    return 1;
  std::printf("ratio 8/1: %.3f (bound 1.2)\n", eight / one);
  return eight / one <= 1.2 ? 0 : 1;
}
