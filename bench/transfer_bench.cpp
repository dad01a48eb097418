// Measures the block download and the memory read-back against the simulated device behind a
// pseudo-terminal: paced at 115200 bit/s, the payload rate against the line's bound for the same
// exchange and the host's CPU share; unpaced, the round trips per second the host sustains. Then
// the baseline: the same download by the simplest host there is (a blocking read-and-reply loop)
// and by the tool, on a device that hands its bytes over one at a time after a turnaround of 0.5
// to 1 ms before each reply. "transfer_bench baseline" runs only that comparison.
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
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
  std::size_t hostBytes = 0;               // host -> device, as the device received them
  std::size_t deviceBytes = 0;             // device -> host, from the frames and replies exchanged
  std::size_t roundTrips = 0;              // frames or pieces each waiting for its answer
  std::vector<Clock::time_point> replied;  // when each data frame's reply was in (downloads)
};

// The time from each data frame's reply to the next one's.
std::vector<double> RoundTrips(const std::vector<Clock::time_point>& replied) {
  std::vector<double> gaps;
  for (std::size_t i = 1; i < replied.size(); ++i)
    gaps.push_back(std::chrono::duration<double>(replied[i] - replied[i - 1]).count());
  return gaps;
}

// The value below which `fraction` of `values` lie.
double Quantile(std::vector<double> values, double fraction) {
  if (values.empty())
    return 0;
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

double Median(std::vector<double> values) {
  return Quantile(std::move(values), 0.5);
}

struct Rig {
  std::unique_ptr<devsim::PtyDevice> device;
  std::unique_ptr<serial::SerialPort> port;
  protocol::BootLink link;
};

devsim::DeviceOptions Options(bool paced) {
  devsim::DeviceOptions options;
  options.frameWords = 64;
  options.paced = paced;
  return options;
}

Rig Start(const devsim::DeviceOptions& options) {
  Rig rig;
  rig.device = devsim::PtyDevice::Start(options);
  if (!rig.device) {
    std::fprintf(stderr, "the simulated device did not start\n");
    std::exit(1);
  }
  rig.port = serial::CreatePort(rig.device->path(), false);
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

protocol::SegmentList CodeImage() {
  protocol::SegmentList list;
  protocol::Segment code;
  code.address = kCodeAddress;
  code.length = static_cast<std::int32_t>(kCodeSize);
  code.data.resize(kCodeSize);
  for (std::size_t i = 0; i < kCodeSize; ++i)
    code.data[i] = static_cast<std::uint8_t>(i * 31 + 7);
  protocol::InsertSegment(list, std::move(code));
  return list;
}

// The simplest host: blocking writes, and for each reply a blocking poll and read until it is
// whole, no sleeps. Its bytes on the wire are the tool's own (the protocol's frame encoders, the
// same frames in the same order); it checks only what it needs to go on.
class PlainLoop {
 public:
  PlainLoop(int fd, std::vector<Clock::time_point>& replied) : m_fd(fd), m_replied(replied) {}

  std::int32_t Download(const protocol::SegmentList& list, std::uint32_t flags) {
    if (!Write(protocol::CommandFrame{protocol::kKindCommand, protocol::CMD_OPEN_SESSION, flags}
                   .Encode()))
      return -1;
    for (const protocol::Segment& segment : list) {
      if (const std::int32_t r = DownloadSegment(segment, flags); r != 0)
        return r;
    }
    return 0;
  }

 private:
  std::int32_t DownloadSegment(const protocol::Segment& segment, std::uint32_t flags) {
    if (!Write(protocol::CommandFrame{protocol::kKindCommand, protocol::CMD_START_SEGMENT, 1}
                   .Encode()))
      return -1;
    std::uint32_t frameWords = 0;
    for (;;) {
      std::vector<std::uint8_t> frame;
      if (!ReadFrame(frame))
        return -2;
      const std::uint16_t code = protocol::GetU16(&frame[2]);
      if (code == protocol::kFrameReady)
        break;
      if (code == protocol::kFrameCapability && frame.size() >= 12)
        frameWords = protocol::GetU32(&frame[8]);
    }
    if (!ReadStatus(protocol::STATUS_READY) || frameWords == 0)
      return -3;
    std::vector<std::uint8_t> frame(4 * static_cast<std::size_t>(frameWords));
    const auto payloadMax = static_cast<std::size_t>(protocol::PayloadPerFrame(frameWords));
    std::uint16_t lengthWords = static_cast<std::uint16_t>(frameWords - 2);
    std::uint32_t address = segment.address;
    for (std::size_t at = 0; at < segment.data.size();) {
      const std::size_t len = std::min(payloadMax, segment.data.size() - at);
      if (len < payloadMax)
        lengthWords = protocol::DataFrameLengthWords(len);
      const std::size_t bytes = protocol::EncodeDataFrame(
          frame.data(), lengthWords, address, std::span(segment.data).subspan(at, len), flags);
      if (!Write(std::span<const std::uint8_t>(frame.data(), bytes)) ||
          !ReadStatus(protocol::STATUS_OK))
        return -4;
      m_replied.push_back(Clock::now());
      address += static_cast<std::uint32_t>(len);
      at += len;
    }
    if (!Write(protocol::EndFrame()) || !ReadStatus(protocol::STATUS_END_9))
      return -5;
    return 0;
  }

  bool Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      const ssize_t put = ::write(m_fd, bytes.data(), bytes.size());
      if (put > 0) {
        bytes = bytes.subspan(static_cast<std::size_t>(put));
      } else if (put < 0 && errno == EAGAIN) {
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0)
          return false;
      } else if (!(put < 0 && errno == EINTR)) {
        return false;
      }
    }
    return true;
  }
  // Blocks until exactly `count` more bytes are in, never reading beyond them.
  bool Read(std::uint8_t* into, std::size_t count) {
    while (count > 0) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0)
        return false;
      const ssize_t got = ::read(m_fd, into, count);
      if (got < 0 && errno != EINTR && errno != EAGAIN)
        return false;
      if (got > 0) {
        into += got;
        count -= static_cast<std::size_t>(got);
      }
    }
    return true;
  }
  bool ReadFrame(std::vector<std::uint8_t>& frame) {
    frame.assign(protocol::kHeaderSize, 0);
    if (!Read(frame.data(), protocol::kHeaderSize))
      return false;
    if (frame[0] == protocol::kShortFrameMark)
      return true;
    frame.resize(protocol::kHeaderSize + 4u * protocol::GetU16(&frame[4]));
    return Read(frame.data() + protocol::kHeaderSize, frame.size() - protocol::kHeaderSize);
  }
  bool ReadStatus(std::uint32_t expected) {
    std::vector<std::uint8_t> reply;
    return ReadFrame(reply) && reply.size() == protocol::kStatusReplySize &&
           protocol::GetU32(&reply[12]) == expected;
  }

  int m_fd;
  std::vector<Clock::time_point>& m_replied;
};

// One download of the CODE image by the tool (or by the plain loop); `wire` receives what the
// device got from the host.
Measure Download(const devsim::DeviceOptions& options, bool plain = false,
                 std::vector<std::uint8_t>* wire = nullptr) {
  Rig rig = Start(options);
  const protocol::SegmentList list = CodeImage();
  protocol::TransferContext context;
  context.link = rig.link;
  std::vector<Clock::time_point> replied;
  replied.reserve(kCodeSize / 64);
  // The progress callback comes once per data frame, right after its reply.
  const protocol::ProgressCallback mark = [](void* user, std::int32_t) -> std::int32_t {
    static_cast<std::vector<Clock::time_point>*>(user)->push_back(Clock::now());
    return 0;
  };
  Measure m = Timed([&] {
    if (plain) {
      return PlainLoop(static_cast<int>(rig.port->handle), replied)
          .Download(list, protocol::kCodeDownloadFlags);
    }
    return protocol::DownloadSegments(list, context, mark, &replied, protocol::kCodeDownloadFlags);
  });
  m.replied = std::move(replied);
  rig.device->With([&](devsim::Device& d) {
    m.hostBytes = d.received().size();
    if (wire != nullptr)
      *wire = d.received();
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
  Rig rig = Start(Options(paced));
  protocol::SegmentList list;
  protocol::Segment region;
  region.address = kBootRegion;
  region.length = kBootRegionSize;
  region.data.resize(kBootRegionSize);
  protocol::InsertSegment(list, std::move(region));
  protocol::TransferContext context;
  context.link = rig.link;
  protocol::ReadBackReport report;
  Measure m =
      Timed([&] { return protocol::ReadBackSegments(context, list, nullptr, nullptr, report); });
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
  const double bound = payload / line * serial::kBytesPerSecond;
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

// The plain loop and the tool, alternating (loop, tool, tool, loop) so that a drift of the
// machine's load weighs on both alike, on the byte-by-byte line with a 0.5..1 ms turnaround.
void Baseline() {
  devsim::DeviceOptions options = Options(true);
  options.packetBytes = 1;
  options.turnaround = {std::chrono::microseconds(500), std::chrono::microseconds(1000)};
  std::printf("baseline: download of %zu B, paced, packetBytes 1, turnaround 0.5..1 ms\n",
              kCodeSize);
  Measure total[2];
  // The device draws the same turnarounds for both (same seed, same replies), so round trip i of
  // one run compares with round trip i of the other.
  std::vector<std::vector<double>> roundTrips[2];
  std::vector<std::uint8_t> wire[2];
  bool sameWire = true;
  for (const bool plain : {true, false, false, true}) {
    std::vector<std::uint8_t> seen;
    const Measure m = Download(options, plain, &seen);
    const int who = plain ? 0 : 1;
    std::printf(
        "  %-10s result %d  wall %.3f s  payload %.1f B/s  host CPU %.2f %% of wall  median round "
        "trip %.3f ms\n",
        plain ? "plain loop" : "vantor", m.result, m.wall, kCodeSize / m.wall,
        100.0 * m.cpu / m.wall, 1000 * Median(RoundTrips(m.replied)));
    if (m.result != 0)
      std::exit(1);
    roundTrips[who].push_back(RoundTrips(m.replied));
    total[who].wall += m.wall;
    total[who].cpu += m.cpu;
    if (wire[who].empty())
      wire[who] = seen;
    sameWire = sameWire && seen == wire[who];
  }
  std::vector<double> later;  // vantor's round trip minus the loop's, pair by pair
  for (std::size_t run = 0; run < 2; ++run) {
    const auto& loop = roundTrips[0][run];
    const auto& tool = roundTrips[1][run];
    for (std::size_t i = 0; i < std::min(loop.size(), tool.size()); ++i)
      later.push_back(tool[i] - loop[i]);
  }
  double mean = 0;
  for (const double d : later)
    mean += d / static_cast<double>(later.size());
  std::printf(
      "  round trip i, vantor minus plain loop: quartiles %+.1f / %+.1f / %+.1f us, mean %+.1f "
      "us\n",
      1e6 * Quantile(later, 0.25), 1e6 * Median(later), 1e6 * Quantile(later, 0.75), 1e6 * mean);
  sameWire = sameWire && wire[0] == wire[1];
  const double loopRate = 2 * kCodeSize / total[0].wall;
  const double toolRate = 2 * kCodeSize / total[1].wall;
  std::printf(
      "  plain loop %.1f B/s (CPU %.2f %%)  vantor %.1f B/s (CPU %.2f %%)  vantor/loop %.4f "
      "(%+.2f %%)  same bytes on the wire: %s\n",
      loopRate, 100.0 * total[0].cpu / total[0].wall, toolRate,
      100.0 * total[1].cpu / total[1].wall, toolRate / loopRate, 100.0 * (toolRate / loopRate - 1),
      sameWire ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "baseline") {
    Baseline();
    return 0;
  }
  std::printf("transfer_bench: CODE image %zu B at 0x%06x (W = 64), read-back %d B at 0x%06x\n",
              kCodeSize, kCodeAddress, kBootRegionSize, kBootRegion);
  PrintPaced("download", kCodeSize, Download(Options(true)));
  PrintPaced("read-back", kBootRegionSize, ReadBack(true));
  PrintUnpaced("download", kCodeSize, Download(Options(false)));
  PrintUnpaced("read-back", kBootRegionSize, ReadBack(false));
  Baseline();
  return 0;
}
