// "sim" and "demo" on POSIX: the simulated device behind a pseudo-terminal. "sim" serves it until
// SIGINT, SIGTERM or SIGHUP (taken with sigwait, so no work happens in a signal handler); "demo"
// runs the whole download flow against it and checks the written area byte for byte.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/device_options.h"
#include "device/files.h"
#include "device/memory_map.h"
#include "device/texts.h"
#include "devsim/pty_transport.h"
#include "protocol/frames.h"
#include "serial/serial_port.h"

namespace vantor::cli {

using device::CommErrorMessage;
using device::DescribeState;
using device::DownloadJob;
using device::DownloadOutcome;
using device::FormatBootVersion;
using device::OpenDevicePort;
using device::PayloadBound;

namespace {

std::atomic<bool> g_demoPaced{true};

// Blocks SIGINT, SIGTERM and SIGHUP (the terminal closed) in this thread (and so in the threads it
// starts) while it lives.
class BlockedStopSignals {
 public:
  BlockedStopSignals() {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    sigaddset(&m_set, SIGHUP);  // ignored from the start (nohup), it never arrives
    pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
  }
  ~BlockedStopSignals() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
  BlockedStopSignals(const BlockedStopSignals&) = delete;
  BlockedStopSignals& operator=(const BlockedStopSignals&) = delete;

  int Wait() {
    int signal = 0;
    while (sigwait(&m_set, &signal) != 0) {
    }
    return signal;
  }

 private:
  sigset_t m_set{};
  sigset_t m_old{};
};

// A symbolic link to the device's pty, removed again when it still points there.
class PortLink {
 public:
  PortLink(std::filesystem::path link, std::string target)
      : m_link(std::move(link)), m_target(std::move(target)) {}
  ~PortLink() {
    std::error_code ec;
    if (m_made && std::filesystem::read_symlink(m_link, ec) == m_target)
      std::filesystem::remove(m_link, ec);
  }
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  // Replaces an earlier link at the path; refuses to replace anything else.
  bool Make(std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_symlink(m_link, ec)) {
      std::filesystem::remove(m_link, ec);
    } else if (std::filesystem::exists(m_link, ec)) {
      error = m_link.string() + " exists and is not a symbolic link; not replaced";
      return false;
    }
    std::filesystem::create_symlink(m_target, m_link, ec);
    if (ec) {
      error = "cannot make " + m_link.string() + ": " + ec.message();
      return false;
    }
    m_made = true;
    return true;
  }

 private:
  std::filesystem::path m_link;
  std::string m_target;
  bool m_made = false;
};

struct SimArgs {
  DeviceFlags device;
  std::string link;
  std::string saveMemory;
};

int SimCommand(Env& env, const SimArgs& args) {
  devsim::DeviceOptions options;
  std::string error;
  if (!MakeDeviceOptions(args.device, options, error)) {
    env.err << "vantor: " << error << "\n";
    return kExitUsage;
  }
  BlockedStopSignals signals;  // before the device thread starts, so that it inherits the mask
  int startError = 0;
  auto device = devsim::PtyDevice::Start(options, &startError);
  if (!device) {
    env.err << "vantor: no pseudo-terminal: " << std::strerror(startError) << "\n";
    return kExitFailure;
  }
  std::unique_ptr<PortLink> link;
  if (!args.link.empty()) {
    link = std::make_unique<PortLink>(args.link, device->path());
    if (!link->Make(error)) {
      env.err << "vantor: " << error << "\n";
      return kExitFailure;
    }
  }
  env.out << device->path() << "\n";
  if (link)
    env.out << args.link << " -> " << device->path() << "\n";
  env.out.flush();
  if (!env.quiet) {
    env.err << "simulated device in its "
            << (options.state == devsim::DeviceState::kFirmware ? "firmware" : "bootloader")
            << (options.paced ? ", paced at 115200 bit/s" : ", unpaced") << "; Ctrl+C stops it\n"
            << std::flush;
  }
  signals.Wait();
  if (!args.saveMemory.empty()) {
    // What the device holds, for checking a session's result from outside.
    std::vector<std::uint8_t> window;
    device->With([&window](devsim::Device& d) {
      window = d.ReadMemory(devsim::kWindowBase, devsim::kWindowSize);
    });
    if (!device::WriteSegmentFile(args.saveMemory, window)) {
      env.err << "vantor: --save-memory: cannot write " << args.saveMemory << "\n";
      return kExitFailure;
    }
  }
  return kExitOk;
}

std::vector<std::uint8_t> DemoImage(std::size_t size) {
  std::vector<std::uint8_t> image(size);
  std::uint32_t x = 0x2545F491;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return image;
}

int DemoCommand(Env& env) {
  using namespace std::chrono;
  const auto started = steady_clock::now();
  devsim::DeviceOptions options;
  options.state = devsim::DeviceState::kFirmware;
  options.paced = g_demoPaced;
  // A restart shorter than the host's 3000 ms wait, as a real device's.
  options.restartDelay = milliseconds(1000);
  if (!g_demoPaced)
    options.restartDelay = milliseconds(50);
  int startError = 0;
  auto device = devsim::PtyDevice::Start(options, &startError);
  if (!device) {
    env.err << "vantor: no pseudo-terminal: " << std::strerror(startError) << "\n";
    return kExitFailure;
  }
  const device::Area& area = *device::FindArea("CODE");
  const std::uint32_t kCodeAddress = area.address();
  const std::int32_t kCodeSize = area.size;
  if (!env.json) {
    env.out << "demo: simulated device on " << device->path() << " (running firmware"
            << (options.paced ? ", 115200 bit/s" : ", unpaced") << "), CODE image of " << kCodeSize
            << " bytes\n"
            << std::flush;
  }

  protocol::SegmentList segments;
  protocol::Segment code;
  code.address = kCodeAddress;
  code.length = kCodeSize;
  code.data = DemoImage(kCodeSize);
  protocol::InsertSegment(segments, code);

  auto reporter = env.MakeReporter(device->path());
  DownloadJob job;
  job.port = device->path();
  job.segments = &segments;
  job.flags = area.downloadFlags;
  job.cancel = env.cancel;
  job.trace = env.trace;
  const DownloadOutcome outcome = RunDownloadFlow(job, *reporter);
  if (!outcome.ok)
    return ExitCodeOf(outcome);

  std::int32_t openError = 0;
  auto port = OpenDevicePort(device->path(), env.trace, openError, env.cancel);
  std::int32_t readResult = -1;
  std::vector<std::uint8_t> back;
  const auto readStart = steady_clock::now();
  if (port) {
    reporter->SegmentStarted(0, 1, kCodeAddress, kCodeSize, "read-back");
    readResult = RunReadBack(*port, kCodeAddress, kCodeSize, back, *reporter, 0, kCodeSize);
    reporter->SegmentDone(0, kCodeAddress, readResult);
  }
  const double readSeconds = duration<double>(steady_clock::now() - readStart).count();
  std::optional<std::uint32_t> difference;
  if (readResult == 0) {
    for (std::size_t i = 0; i < code.data.size(); ++i) {
      if (back[i] != code.data[i]) {
        difference = kCodeAddress + static_cast<std::uint32_t>(i);
        break;
      }
    }
  }
  const bool verified = readResult == 0 && !difference;
  reporter->Verify(readResult, difference, readSeconds);

  const double rate = outcome.downloadSeconds > 0 ? kCodeSize / outcome.downloadSeconds : 0;
  const double bound = PayloadBound(kCodeSize, outcome.lineBytes);
  char text[1024];
  std::snprintf(
      text, sizeof text,
      "demo report\n"
      "  answered first:   %s\n"
      "  bootloader:       %s%s\n"
      "  after download:   %s\n"
      "  download:         %d bytes in %.1f s, %.0f payload bytes/s (the exchange's bound %.0f "
      "bytes/s: %.0f%%)\n"
      "  read-back:        %d bytes in %.1f s%s\n"
      "  total:            %.1f s\n"
      "  result:           %s",
      DescribeState(outcome.first).c_str(),
      outcome.bootVersion ? FormatBootVersion(*outcome.bootVersion).c_str() : "-",
      outcome.bootEntered ? ", after \"~dboot\" and the 3000 ms wait" : "",
      outcome.after ? DescribeState(*outcome.after).c_str() : "not detected", kCodeSize,
      outcome.downloadSeconds, rate, bound, bound > 0 ? 100.0 * rate / bound : 0.0, kCodeSize,
      readSeconds, readResult == 0 ? "" : (" (" + CommErrorMessage(readResult) + ")").c_str(),
      duration<double>(steady_clock::now() - started).count(),
      verified ? "verified" : (difference ? "NOT verified: memory differs" : "NOT verified"));
  reporter->Result(verified ? 0 : (readResult != 0 ? readResult : -1), text);
  return verified ? kExitOk : kExitFailure;
}

}  // namespace

void SetDemoPacingForTesting(bool paced) {
  g_demoPaced = paced;
}

void AddSimCommands(CLI::App& app, Env& env, Action& action) {
  static_cast<void>(app);
  auto args = std::make_shared<SimArgs>();
  auto* sim = app.add_subcommand(
      "sim", "Serve a simulated device on a pseudo-terminal until Ctrl+C (SIGINT or SIGTERM)");
  sim->add_option("--link", args->link,
                  "Also make PATH (for example /dev/ttyUSB9) a symbolic link to the port; "
                  "removed on exit");
  sim->add_option("--save-memory", args->saveMemory,
                  "FILE: on exit, write the 256 KiB window the device holds");
  AddDeviceFlags(*sim, args->device);
  sim->callback(
      [&env, &action, args] { action = [&env, args] { return SimCommand(env, *args); }; });

  auto* demo = app.add_subcommand(
      "demo",
      "Run the whole download against a simulated device: \"~dboot\", a 98304-byte CODE image, "
      "re-detection, read-back and byte-for-byte check (about 45 s at 115200 bit/s)");
  demo->callback([&env, &action] { action = [&env] { return DemoCommand(env); }; });
}

}  // namespace vantor::cli
