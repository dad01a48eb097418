// Measures the block download and the memory read-back against the simulated device behind a
// pseudo-terminal: paced at 115200 bit/s, the payload rate against the line's bound for the same
// exchange and the host's CPU share; unpaced, the round trips per second the host sustains.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "devsim/pty_transport.h"
#include "protocol/download.h"
#include "protocol/text_commands.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kCodeAddress = 0x108000;
constexpr std::size_t kCodeSize = 98304;
constexpr std::uint32_t kBootRegion = 0x138000;
constexpr std::int32_t kBootRegionSize = 16 * 1024;

// CPU time of the calling thread only (the device runs on its own thread in this process).
double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Measure {
  double wall = 0;
  double cpu = 0;
  std::int32_t result = 0;
  std::size_t hostBytes = 0;    // host -> device, as the device received them
  std::size_t deviceBytes = 0;  // device -> host, from the frames and replies exchanged
  std::size_t roundTrips = 0;   // frames or pieces each waiting for its answer
};

struct Rig {
  std::unique_ptr<devsim::PtyDevice> device;
  std::unique_ptr<SerialPort> port;
  BootLink link;
};

Rig Start(bool paced) {
  devsim::DeviceOptions options;
  options.frameWords = 64;
  options.paced = paced;
  Rig rig;
  rig.device = devsim::PtyDevice::Start(options);
  if (!rig.device) {
    std::fprintf(stderr, "the simulated device did not start\n");
    std::exit(1);
  }
  rig.port = CreatePort(rig.device->path(), false);
  if (!rig.port->IsOpen()) {
    std::fprintf(stderr, "%s did not open\n", rig.device->path().c_str());
    std::exit(1);
  }
  rig.link.port = rig.port.get();
  return rig;
}

template <typename Fn>
Measure Timed(Fn fn) {
  Measure m;
  const double cpu0 = ThreadCpuSeconds();
  const auto t0 = Clock::now();
  m.result = fn();
  m.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  m.cpu = ThreadCpuSeconds() - cpu0;
  return m;
}

Measure Download(bool paced) {
  Rig rig = Start(paced);
  SegmentList list;
  Segment code;
  code.address = kCodeAddress;
  code.length = static_cast<std::int32_t>(kCodeSize);
  code.data.resize(kCodeSize);
  for (std::size_t i = 0; i < kCodeSize; ++i)
    code.data[i] = static_cast<std::uint8_t>(i * 31 + 7);
  InsertSegment(list, std::move(code));
  TransferContext context;
  context.link = rig.link;
  Measure m =
      Timed([&] { return DownloadSegments(list, context, nullptr, nullptr, kCodeDownloadFlags); });
  rig.device->With([&](devsim::Device& d) {
    m.hostBytes = d.received().size();
    std::size_t statusReplies = 0;
    for (const auto& e : d.events()) {
      using K = devsim::DeviceEvent::Kind;
      if (e.kind == K::kDataFrame)
        ++m.roundTrips;
      if (e.kind == K::kDataFrame || e.kind == K::kEndFrame)
        ++statusReplies;
      if (e.kind == K::kStartSegment)
        m.deviceBytes += 16 + 8 + 16;  // capability, ready, status
    }
    m.deviceBytes += 16 * statusReplies;
    if (m.result == 0 && d.ReadMemory(kCodeAddress, kCodeSize) != list.begin()->data)
      m.result = -1;
  });
  return m;
}

Measure ReadBack(bool paced) {
  Rig rig = Start(paced);
  SegmentList list;
  Segment region;
  region.address = kBootRegion;
  region.length = kBootRegionSize;
  region.data.resize(kBootRegionSize);
  InsertSegment(list, std::move(region));
  TransferContext context;
  context.link = rig.link;
  ReadBackReport report;
  Measure m = Timed([&] { return ReadBackSegments(context, list, nullptr, nullptr, report); });
  rig.device->With([&](devsim::Device& d) {
    m.hostBytes = d.received().size();
    for (const auto& e : d.events()) {
      if (e.kind != devsim::DeviceEvent::Kind::kTextCommand)
        continue;
      ++m.roundTrips;
      const std::size_t n = std::strtoul(e.text.substr(e.text.find(',') + 1).c_str(), nullptr, 16);
      m.deviceBytes += 7 + 2 * n + 2;  // "~Du0000", the digits, CR LF
    }
    if (m.result == 0 && d.ReadMemory(kBootRegion, kBootRegionSize) != list.begin()->data) {
      m.result = -1;
    }
  });
  return m;
}

void PrintPaced(const char* name, std::size_t payload, const Measure& m) {
  const double rate = payload / m.wall;
  const double line = static_cast<double>(m.hostBytes + m.deviceBytes);
  const double bound = payload / line * kBytesPerSecond;
  std::printf(
      "%-9s paced   result %d  payload %zu B  line %zu B (host %zu + device %zu)  wall %.3f s\n"
      "          payload %.0f B/s  wire bound %.0f B/s  ratio %.1f %%  host CPU %.3f s = %.2f %% "
      "of wall (RUSAGE_THREAD, host thread only)\n",
      name, m.result, payload, m.hostBytes + m.deviceBytes, m.hostBytes, m.deviceBytes, m.wall,
      rate, bound, 100.0 * rate / bound, m.cpu, 100.0 * m.cpu / m.wall);
}

void PrintUnpaced(const char* name, std::size_t payload, const Measure& m) {
  std::printf(
      "%-9s unpaced result %d  %zu round trips in %.3f s = %.0f round trips/s  payload %.0f B/s  "
      "host CPU %.2f %% of wall\n",
      name, m.result, m.roundTrips, m.wall, m.roundTrips / m.wall, payload / m.wall,
      100.0 * m.cpu / m.wall);
}

}  // namespace

int main() {
  std::printf("transfer_bench: CODE image %zu B at 0x%06x (W = 64), read-back %d B at 0x%06x\n",
              kCodeSize, kCodeAddress, kBootRegionSize, kBootRegion);
  PrintPaced("download", kCodeSize, Download(true));
  PrintPaced("read-back", kBootRegionSize, ReadBack(true));
  PrintUnpaced("download", kCodeSize, Download(false));
  PrintUnpaced("read-back", kBootRegionSize, ReadBack(false));
  return 0;
}
