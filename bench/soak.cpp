// soak: runs sessions of the vantor tool's own commands (download, write, read, download with
// verify) in-process against simulated devices on noisy lines, and checks what each session
// reported against what the device really holds:
// - it ended within the sum of its phases' bounds (no hang) and did not crash;
// - its result is 0 or one of the documented codes;
// - 0 with verify means the device holds exactly the image; 0 from read means the saved file
//   equals the device's memory; a failed read leaves no file.
// Each session is a child process (the flows run one per process; a crash is caught and named by
// its seed); several run at once, as they mostly wait. Everything a session picks (flow, image,
// noise) comes from its seed, printed with every finding:
//   soak --seed S --first I --sessions 1 --verbose   reruns session I.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "device/files.h"
#include "device/flows.h"
#include "device/result_codes.h"
#include "devsim/pty_transport.h"
#include "protocol/download.h"
#include "protocol/receiver.h"
#include "protocol/text_commands.h"
#include "serial/cancel.h"
#include "serial/serial_port.h"

namespace {

using namespace std::chrono_literals;
using vantor::devsim::DeviceOptions;
using vantor::devsim::LineChaos;
using Ms = std::chrono::milliseconds;

// The fixed waits run at this share of their length so that sessions are short; the device's
// restart is shorter still, as a real device's is shorter than the host's wait.
constexpr double kWaitScale = 0.01;
constexpr Ms kRestartDelay{10};

// CODE and firmware images are 256 bytes to this size (the fixed-size areas and slots are larger).
constexpr std::size_t kLargestImage = 0x4000;

enum Flow { kDownload, kDownloadVerify, kWrite, kRead, kFlowCount };
const char* const kFlowNames[] = {"download", "download --verify", "write", "read"};

// What a child reports about its session (written whole through a pipe).
struct Record {
  int flow = 0;
  int exitCode = 0;
  std::int32_t code = 0;
  bool codeSeen = false;
  bool memoryMatches = false;  // download/write: the device holds the image; read: the file
  bool fileLeft = false;       // read: a file exists
  double seconds = 0;
  double boundSeconds = 0;
  char what[96] = {};  // the command, for findings
};

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::vector<std::uint8_t> RandomBytes(std::mt19937_64& rng, std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes)
    b = static_cast<std::uint8_t>(rng());
  return bytes;
}

// Half the kinds stay quiet; the others get a rate between 1e-6 and 1e-4 per byte (a session
// moves some thousands of bytes each way, so many sessions meet a fault or two, many none).
LineChaos RandomNoise(std::mt19937_64& rng) {
  auto rate = [&rng](double low, double high) {
    if (rng() % 2 == 0)
      return 0.0;
    return std::pow(10.0, std::uniform_real_distribution<double>(low, high)(rng));
  };
  LineChaos c;
  c.drop = rate(-6, -4);
  c.flip = rate(-6, -4);
  c.duplicate = rate(-6, -4);
  c.delay = rate(-6, -4);
  c.cut = rate(-6.5, -4.5);
  return c;
}

// The documented results: 0, -1, the read-back's malformed reply, the download's own codes, the
// verify's mismatch, a
// system error (positive: errno values, the time-out, cancellation) and a system error inside a
// segment (DL_ERR_IO_BASE + the error).
bool SystemError(std::int32_t code) {
  return (code > 0 && code < 4096) || code == vantor::serial::kErrorTimeout ||
         code == vantor::serial::kErrorCancelled;
}
bool Documented(std::int32_t code) {
  using namespace vantor;
  const std::int32_t own[] = {0,
                              -1,
                              device::kErrorVerifyDiffers,
                              protocol::kReadBackMalformed,
                              protocol::DL_ERR_TOO_LONG,
                              protocol::DL_ERR_NOT_READY,
                              protocol::DL_ERR_REFUSED_2,
                              protocol::DL_ERR_REFUSED_5,
                              protocol::DL_ERR_REFUSED,
                              protocol::DL_ERR_NO_CAPABILITY};
  return std::find(std::begin(own), std::end(own), code) != std::end(own) || SystemError(code) ||
         SystemError(code - protocol::DL_ERR_IO_BASE);
}

double Seconds(Ms ms) {
  return std::chrono::duration<double>(ms).count();
}

// Bytes on the wire, both ways, for reading `n` bytes back: per 64-byte piece a 16-byte command
// and a reply of "~Du0000", two digits a byte and CR LF.
double ReadBackWireBytes(std::size_t n) {
  return static_cast<double>(n) / 64.0 * (16 + 9) + 2.0 * static_cast<double>(n);
}

// The sum of the bounds of the phases a session runs: each phase's longest wait that can end it
// and the waits it survives, plus the time its bytes take on the real line (an unpaced session is
// never slower than the paced line would be), plus a slack.
double SessionBound(Flow flow, bool firmware, std::size_t bytes) {
  using namespace vantor;
  const Ms slack{10000};                                // a shared, loaded machine included
  const Ms query = 2 * protocol::kVersionQueryTimeout;  // asked twice
  const Ms detect = query + protocol::kTextExchangeTimeout;
  const Ms reopen = device::kReopenRetryTime;
  double wire = 0;
  Ms bound = slack;
  if (flow == kRead) {
    wire = 2 * ReadBackWireBytes(bytes);  // read twice
    bound += protocol::kTextExchangeTimeout;
  } else {
    wire = 1.1 * static_cast<double>(bytes);  // frame headers and replies
    bound += firmware ? detect : query;
    if (firmware && flow != kWrite)
      bound +=
          Ms(static_cast<long>(device::kBootRestartWait.count() * kWaitScale)) + reopen + query;
    bound +=
        protocol::kWaitPhaseTimeout + protocol::kFrameSilenceTimeout + protocol::kEndReplyTimeout;
    if (flow != kWrite)
      bound += Ms(static_cast<long>(device::kRedetectWait.count() * kWaitScale)) + reopen + detect;
    if (flow == kDownloadVerify) {
      wire += ReadBackWireBytes(bytes);
      bound += protocol::kTextExchangeTimeout;
    }
  }
  return Seconds(bound) + wire / serial::kBytesPerSecond;
}

Record RunSession(std::uint64_t seed, const std::filesystem::path& dir, bool verbose) {
  std::mt19937_64 rng(seed);
  Record r;
  r.flow = static_cast<int>(rng() % kFlowCount);
  const Flow flow = static_cast<Flow>(r.flow);

  DeviceOptions o;
  o.paced = false;
  o.restartDelay = kRestartDelay;
  o.chaosSeed = rng();
  o.toDevice = RandomNoise(rng);
  o.toHost = RandomNoise(rng);
  o.chaosDelay = Ms(10 + rng() % 190);
  o.chaosCutTime = Ms(20 + rng() % 380);
  o.initialMemory = RandomBytes(rng, vantor::devsim::kWindowSize);
  const bool firmware = flow != kWrite && rng() % 4 != 0;
  o.state =
      firmware ? vantor::devsim::DeviceState::kFirmware : vantor::devsim::DeviceState::kBootloader;

  struct Target {
    const char* name;
    std::uint32_t address;
    std::size_t size;  // 0: any, chosen here
  };
  // Areas (download), slots (write) and regions (read) of the memory map, small ones mostly.
  static const Target areas[] = {
      {"CODE", 0x108000, 0}, {"OEM", 0x13CC00, 0x3400}, {"PARAMETER", 0x13C000, 0xC00}};
  static const Target slots[] = {{"firmware", 0x100000, 0},
                                 {"boot", 0x138000, 0x4000},
                                 {"oem", 0x13CC00, 0x3400},
                                 {"parameter", 0x13C000, 0xC00}};
  static const Target regions[] = {
      {"boot", 0x138000, 0x4000}, {"parameter", 0x13C000, 0xC00}, {"oem", 0x13CC00, 0x3400}};

  std::vector<std::string> args = {"vantor", "--json"};
  Target target{};
  std::vector<std::uint8_t> image;
  if (flow == kRead) {
    target = regions[rng() % std::size(regions)];
    args.insert(args.end(), {"read", target.name, "-o", dir.string()});
  } else {
    target = flow == kWrite ? slots[rng() % std::size(slots)] : areas[rng() % std::size(areas)];
    const std::size_t size = target.size ? target.size : 256 + rng() % (kLargestImage - 255);
    image = RandomBytes(rng, size);
    const std::filesystem::path file = dir / "image.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(size));
    args.push_back(flow == kWrite ? "write" : "download");
    if (flow == kDownloadVerify)
      args.push_back("--verify");
    args.push_back(std::string(target.name) + "=" + file.string());
  }
  r.boundSeconds = SessionBound(flow, firmware, flow == kRead ? target.size : image.size());

  auto device = vantor::devsim::PtyDevice::Start(std::move(o));
  if (!device) {
    std::fprintf(stderr, "soak: no pseudo-terminal\n");
    std::_Exit(3);
  }
  args.insert(args.begin() + 3, {"-p", device->path()});
  std::string what;
  for (std::size_t i = 2; i < args.size(); ++i)
    what += (i > 2 ? " " : "") + (args[i] == device->path() ? std::string("PTY") : args[i]);
  std::snprintf(r.what, sizeof r.what, "%s", what.c_str());

  vantor::device::SetWaitScaleForTesting(kWaitScale);
  std::ostringstream out;
  std::ostringstream err;
  const auto start = std::chrono::steady_clock::now();
  r.exitCode = vantor::cli::RunCli(args, out, err, false);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const std::string text = out.str();
  const std::string mark = "\"event\":\"result\",\"code\":";
  const std::size_t at = text.rfind(mark);
  if (at != std::string::npos) {
    r.codeSeen = true;
    r.code = static_cast<std::int32_t>(std::strtol(text.c_str() + at + mark.size(), nullptr, 10));
  }
  if (verbose)
    std::fprintf(stderr, "%s%s", text.c_str(), err.str().c_str());

  std::vector<std::uint8_t> memory;
  const std::size_t length = flow == kRead ? target.size : image.size();
  device->With([&](vantor::devsim::Device& d) { memory = d.ReadMemory(target.address, length); });
  if (flow == kRead) {
    const std::filesystem::path saved = dir / vantor::device::ReadBackFileName(target.address);
    std::ifstream in(saved, std::ios::binary);
    r.fileLeft = in.is_open();
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    r.memoryMatches = bytes == memory;
  } else {
    r.memoryMatches = memory == image;
  }
  return r;
}

struct Child {
  pid_t pid = -1;
  int pipe = -1;
  std::uint64_t index = 0;
  std::uint64_t seed = 0;
  std::chrono::steady_clock::time_point started;
  std::string got;
};

struct Totals {
  std::uint64_t sessions = 0;
  std::uint64_t successes = 0;
  std::map<std::int32_t, std::uint64_t> failures;
  std::uint64_t crashes = 0;
  std::uint64_t hangs = 0;
  std::uint64_t overBound = 0;
  std::uint64_t undocumented = 0;
  std::uint64_t filesLeft = 0;
  std::uint64_t verifySuccesses = 0, verifyFalse = 0;
  std::uint64_t readSuccesses = 0, readFalse = 0;
  std::uint64_t plainSuccesses = 0, plainCorrupt = 0;
  double longest = 0, longestBound = 0;
  std::uint64_t longestIndex = 0;
  std::uint64_t longestSeed = 0;
};

void Finding(const char* what, const Child& c, const Record* r) {
  std::printf("FINDING %s: session %llu seed 0x%016llx%s%s\n", what,
              static_cast<unsigned long long>(c.index), static_cast<unsigned long long>(c.seed),
              r ? ": " : "", r ? r->what : "");
}

void Account(Totals& t, const Child& c, int status, bool killed) {
  ++t.sessions;
  if (killed) {
    ++t.hangs;
    return Finding("hang (killed past twice its bound)", c, nullptr);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || c.got.size() != sizeof(Record)) {
    ++t.crashes;
    return Finding(WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "crash", c, nullptr);
  }
  Record r;
  std::memcpy(&r, c.got.data(), sizeof r);
  r.what[sizeof r.what - 1] = 0;
  if (r.seconds > t.longest) {
    t.longest = r.seconds;
    t.longestBound = r.boundSeconds;
    t.longestIndex = c.index;
    t.longestSeed = c.seed;
  }
  if (r.seconds > r.boundSeconds) {
    ++t.overBound;
    Finding("over its bound", c, &r);
  }
  const std::int32_t code = r.codeSeen ? r.code : (r.exitCode == 0 ? 0 : -1);
  if (!r.codeSeen || !Documented(code) || (r.exitCode == 0) != (code == 0)) {
    ++t.undocumented;
    Finding("result not a documented code", c, &r);
  }
  const Flow flow = static_cast<Flow>(r.flow);
  if (flow == kRead && r.fileLeft && r.exitCode != 0) {
    ++t.filesLeft;
    Finding("file left by a failed read", c, &r);
  }
  if (r.exitCode != 0) {
    ++t.failures[code];
    return;
  }
  ++t.successes;
  if (flow == kDownloadVerify) {
    ++t.verifySuccesses;
    if (!r.memoryMatches) {
      ++t.verifyFalse;
      Finding("false success with verify", c, &r);
    }
  } else if (flow == kRead) {
    ++t.readSuccesses;
    if (!r.memoryMatches) {
      ++t.readFalse;
      Finding("false success from read", c, &r);
    }
  } else {
    ++t.plainSuccesses;
    t.plainCorrupt += !r.memoryMatches;
  }
}

double Percent(std::uint64_t part, std::uint64_t whole) {
  return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: soak [--sessions N] [--seed S] [--first I] [--jobs J] [--verbose]\n"
               "  N sessions (200), I..I+N-1 of the run seeded S (1), J at once (16)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sessions = 200, seed = 1, first = 0;
  unsigned jobs = 16;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto number = [&](std::uint64_t& v) {
      if (i + 1 >= argc)
        return false;
      char* end = nullptr;
      v = std::strtoull(argv[++i], &end, 0);
      return *end == 0;
    };
    std::uint64_t j = jobs;
    const bool ok = a == "--sessions"  ? number(sessions)
                    : a == "--seed"    ? number(seed)
                    : a == "--first"   ? number(first)
                    : a == "--jobs"    ? number(j)
                    : a == "--verbose" ? (verbose = true)
                                       : false;
    if (!ok || j == 0)
      return Usage();
    jobs = static_cast<unsigned>(j);
  }
  ::signal(SIGPIPE, SIG_IGN);
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("vantor-soak-" + std::to_string(::getpid()));

  Totals totals;
  std::vector<Child> running;
  std::uint64_t next = first;
  const auto runStart = std::chrono::steady_clock::now();
  while (next < first + sessions || !running.empty()) {
    while (next < first + sessions && running.size() < jobs) {
      Child c;
      c.index = next++;
      c.seed = SplitMix(seed ^ SplitMix(c.index));
      int fds[2];
      if (::pipe(fds) != 0)
        return 3;
      const std::filesystem::path dir = root / std::to_string(c.index);
      std::filesystem::create_directories(dir);
      std::fflush(nullptr);
      c.pid = ::fork();
      if (c.pid == 0) {
        ::close(fds[0]);
        const Record r = RunSession(c.seed, dir, verbose);
        const bool sent = ::write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        std::fflush(nullptr);
        std::_Exit(sent ? 0 : 4);
      }
      ::close(fds[1]);
      c.pipe = fds[0];
      c.started = std::chrono::steady_clock::now();
      running.push_back(std::move(c));
    }
    std::vector<pollfd> fds;
    for (const Child& c : running)
      fds.push_back({c.pipe, POLLIN, 0});
    ::poll(fds.data(), fds.size(), 1000);
    for (std::size_t i = running.size(); i-- > 0;) {
      Child& c = running[i];
      bool done = false;
      if (fds[i].revents != 0) {
        char buf[sizeof(Record)];
        const ssize_t n = ::read(c.pipe, buf, sizeof buf);
        if (n > 0)
          c.got.append(buf, static_cast<std::size_t>(n));
        done = n <= 0;
      }
      // Twice the largest bound a session can have is a hang.
      const bool hung =
          std::chrono::steady_clock::now() - c.started >
          2 * std::chrono::duration<double>(SessionBound(kDownloadVerify, true, kLargestImage));
      if (!done && !hung)
        continue;
      if (hung)
        ::kill(c.pid, SIGKILL);
      int status = 0;
      ::waitpid(c.pid, &status, 0);
      ::close(c.pipe);
      Account(totals, c, status, hung);
      std::filesystem::remove_all(root / std::to_string(c.index));
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  std::filesystem::remove_all(root);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count();

  const Totals& t = totals;
  std::printf("sessions run:                      %llu (seed %llu, %u at once, %.0f s)\n",
              static_cast<unsigned long long>(t.sessions), static_cast<unsigned long long>(seed),
              jobs, wall);
  std::printf("successes:                         %llu\n",
              static_cast<unsigned long long>(t.successes));
  std::printf("failures by code:                 ");
  for (const auto& [code, n] : t.failures)
    std::printf(" %d: %llu", code, static_cast<unsigned long long>(n));
  std::printf("%s\n", t.failures.empty() ? " none" : "");
  std::printf("false successes with verify:       %llu of %llu successes (%.3f%%)\n",
              static_cast<unsigned long long>(t.verifyFalse),
              static_cast<unsigned long long>(t.verifySuccesses),
              Percent(t.verifyFalse, t.verifySuccesses));
  std::printf("false successes from read:         %llu of %llu successes (%.3f%%)\n",
              static_cast<unsigned long long>(t.readFalse),
              static_cast<unsigned long long>(t.readSuccesses),
              Percent(t.readFalse, t.readSuccesses));
  std::printf("memory differs without verify:     %llu of %llu successes (%.3f%%)\n",
              static_cast<unsigned long long>(t.plainCorrupt),
              static_cast<unsigned long long>(t.plainSuccesses),
              Percent(t.plainCorrupt, t.plainSuccesses));
  std::printf(
      "hangs: %llu, crashes: %llu, over bound: %llu, undocumented results: %llu, "
      "files left by failed reads: %llu\n",
      static_cast<unsigned long long>(t.hangs), static_cast<unsigned long long>(t.crashes),
      static_cast<unsigned long long>(t.overBound), static_cast<unsigned long long>(t.undocumented),
      static_cast<unsigned long long>(t.filesLeft));
  std::printf(
      "longest session:                   %.2f s against its bound %.0f s (session %llu, "
      "seed 0x%016llx)\n",
      t.longest, t.longestBound, static_cast<unsigned long long>(t.longestIndex),
      static_cast<unsigned long long>(t.longestSeed));
  const bool sound = t.verifyFalse == 0 && t.readFalse == 0 && t.hangs == 0 && t.crashes == 0 &&
                     t.overBound == 0 && t.undocumented == 0 && t.filesLeft == 0;
  std::printf("%s\n", sound ? "sound" : "NOT sound: see the findings above");
  return sound ? 0 : 1;
}
