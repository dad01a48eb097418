// The production station as a real process against simulated devices whose pseudo-terminals are
// linked into a folder that --match globs: ports present at start and appearing later, a port
// flashed again only after it was gone, the retry of a refused frame, the production record's
// fields, and SIGINT/SIGTERM. Also the record's SHA-256.
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
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/images.h"
#include "devsim/pty_transport.h"
#include "production/database.h"
#include "production/record.h"
#include "production/sha256.h"
#include "support/flat_json.h"
#include "support/station_rig.h"

namespace vantor::cli {
namespace {

using namespace vantor::device;
using production::DescribeImages;
using production::RecordImage;
using production::Sha256Hex;

using namespace rig;
using devsim::DeviceEvent;
using devsim::DeviceOptions;
using vantor::testing::PatternBytes;
using vantor::testing::ReadFileBytes;
using vantor::testing::TempFolder;
using vantor::testing::WriteFileText;
constexpr std::uint32_t kBootAddress = kRigBootAddress;

// Each image of the record is named by the target its segment went to, also when an argument
// repeats a target (the later file replaces the earlier one) or a HEX file spans two areas.
TEST(RecordImagesTest, EachSegmentIsNamedByItsOwnTarget) {
  const TempFolder dir;
  const auto file = [&dir](const std::string& name, const std::string& bytes) {
    WriteFileText(dir / name, bytes);
    return (dir / name).string();
  };
  const std::string first = file("first.bin", std::string(1000, 'a'));
  const std::string second = file("second.bin", std::string(2000, 'b'));
  const std::string oem = file("oem.bin", std::string(0x3400, 'c'));
  // Two bytes into BOOT (0x100000), two into CODE (0x108000).
  const std::string hex =
      file("two.hex", ":020000040010EA\n:020000000304F7\n:0280000001027B\n:00000001FF\n");
  const struct {
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::uint32_t>> images;
  } cases[] = {
      {{"CODE=" + first, "CODE=" + second, "OEM=" + oem}, {{"CODE", 0x108000}, {"OEM", 0x13CC00}}},
      {{hex}, {{"BOOT", 0x100000}, {"CODE", 0x108000}}},
  };
  for (const auto& c : cases) {
    production::LoadedImages images;
    std::string error;
    ASSERT_TRUE(LoadImages(device::AreaPlaces(), c.arguments, images, error)) << error;
    std::vector<std::pair<std::string, std::uint32_t>> described;
    for (const RecordImage& image : DescribeImages(images))
      described.emplace_back(image.target, image.address);
    EXPECT_EQ(described, c.images) << c.arguments.front();
  }
}

TEST(Sha256Test, KnownDigests) {
  std::vector<std::uint8_t> counting(64);
  for (std::size_t i = 0; i < counting.size(); ++i)
    counting[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> thousand(1000);
  for (std::size_t i = 0; i < thousand.size(); ++i)
    thousand[i] = static_cast<std::uint8_t>(i * 7 % 256);
  const auto text = [](std::string_view s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
  };
  const struct {
    std::vector<std::uint8_t> bytes;
    const char* digest;
  } cases[] = {
      {{}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the block, padding takes a second one.
      {text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {counting, "fdeab9acf3710362bd2658cdc9a29e8f9c757fcf9811603a8c447cd1d9151108"},
      {thousand, "89f4ff56a25dd1db06a4ce6033603775d705fb96f30f8693733fef602a1ca532"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Sha256Hex(c.bytes), c.digest) << c.bytes.size() << " bytes";
}

// The production line as it runs: three devices linked one after another, each flashed, then the
// station ends after --count devices with one parseable record line each.
TEST_F(StationTest, FlashesThreeDevicesLinkedOneAfterAnotherAndRecordsEach) {
  const auto bytes = PatternBytes(4096, 3);
  const std::string image = Image(bytes);
  for (int i = 0; i < 3; ++i)
    AddDevice();
  Link(0);
  Start({"--count", "3", "--record", Record(), "BOOT=" + image});
  for (std::size_t i = 1; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Link(i);
  }
  ASSERT_EQ(Finish(), 0) << Output() << Output("err.txt");
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(Holds(*m_devices[i], bytes)) << i;
    EXPECT_EQ(Sessions(*m_devices[i]), 1) << i;
  }
  const auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 3u);
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  std::vector<std::string> ports;
  for (const auto& r : lines) {
    ports.push_back(r.at("port"));
    EXPECT_EQ(r.at("station"), host);  // no --station-name: the host's name
    EXPECT_EQ(r.at("result.code"), "0");
    EXPECT_EQ(r.at("images"), "1");
    EXPECT_EQ(r.at("images.0.target"), "BOOT");
    EXPECT_EQ(r.at("images.0.address"), "0x100000");
    EXPECT_EQ(r.at("images.0.size"), "4096");
    EXPECT_EQ(r.at("images.0.sha256"), Sha256Hex(bytes));
    EXPECT_EQ(r.at("bytes"), "4096");
    EXPECT_EQ(r.at("attempts"), "1");
    EXPECT_EQ(r.at("verified"), "null");  // not asked
    EXPECT_EQ(r.at("usb"), "null");       // a pseudo-terminal has no USB identity
    EXPECT_EQ(r.at("before"), "boot v1.2.3.4");
    EXPECT_EQ(r.at("after"), "boot v1.2.3.4");  // detected again after the download
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(r.at("started"), iso)) << r.at("started");
    EXPECT_TRUE(std::regex_match(r.at("finished"), iso)) << r.at("finished");
    EXPECT_LE(r.at("started"), r.at("finished"));
    EXPECT_GT(std::stod(r.at("seconds")), 0.0);
  }
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(ports, (std::vector<std::string>{Port(0), Port(1), Port(2)}));
  EXPECT_NE(Output().find("3 device(s): 3 succeeded, 0 failed, 0 cancelled"), std::string::npos)
      << Output();
}

// A port that stays is flashed once however many scans see it; one that goes away and comes back
// is flashed again; a link whose device is gone is no port at all.
TEST_F(StationTest, FlashesAPortAgainOnlyAfterItWasGone) {
  const auto bytes = PatternBytes(2048, 9);
  const std::string image = Image(bytes);
  AddDevice();
  AddDevice();
  fs::create_symlink(m_dir / "missing", m_dir / "rig" / "port9");
  Link(0);
  Link(1);
  Start({"--count", "3", "--no-redetect", "--json", "--record", Record(), "BOOT=" + image});
  ASSERT_TRUE(WaitUntil([&] { return Holds(*m_devices[0], bytes) && Holds(*m_devices[1], bytes); },
                        std::chrono::milliseconds(15000)));
  // Several scans while both stay: nothing more happens.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(Sessions(*m_devices[0]), 1);
  m_devices[0]->With([](devsim::Device& d) {
    d.WriteMemory(kBootAddress, std::vector<std::uint8_t>(2048, 0xFF));
  });
  Unlink(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  Link(0);
  ASSERT_EQ(Finish(), 0) << Output() << Output("err.txt");
  EXPECT_EQ(Sessions(*m_devices[0]), 2);
  EXPECT_EQ(Sessions(*m_devices[1]), 1);
  EXPECT_TRUE(Holds(*m_devices[0], bytes));
  EXPECT_EQ(RecordLines().size(), 3u);
  // --json: the workers' events, one finished event per device, and the summary.
  std::istringstream events(Output());
  int finished = 0;
  for (std::string line; std::getline(events, line);) {
    const auto event = testing::ParseFlatJson(line);
    ASSERT_TRUE(event) << line;
    if (event->at("event") == "finished") {
      ++finished;
      EXPECT_EQ(event->at("code"), "0");
      EXPECT_NE(event->at("port"), (m_dir / "rig" / "port9").string());
    }
  }
  EXPECT_EQ(finished, 3);
}

// One refused frame in the first session: --retries 1 flashes the device on the second attempt;
// without retries it fails with the refusal's code.
TEST_F(StationTest, RetryFlashesADeviceThatRefusedOneFrameOnce) {
  const auto bytes = PatternBytes(3000, 5);
  const std::string image = Image(bytes);
  const struct {
    int retries;
    int exitCode;
    const char* code;
    const char* attempts;
  } cases[] = {{1, 0, "0", "2"}, {0, 1, "-9978", "1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("retries " + std::to_string(c.retries));
    fs::remove(Record());
    m_devices.clear();
    fs::remove(Port(0));
    DeviceOptions options;
    options.refuseSegment = 0;
    options.refuseFrame = 1;
    options.refuseOnce = true;
    AddDevice(options);
    Link(0);
    Start({"--count", "1", "--no-redetect", "--retries", std::to_string(c.retries), "--record",
           Record(), "BOOT=" + image});
    EXPECT_EQ(Finish(), c.exitCode) << Output() << Output("err.txt");
    const auto lines = RecordLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].at("result.code"), c.code);
    EXPECT_EQ(lines[0].at("attempts"), c.attempts);
    EXPECT_EQ(Holds(*m_devices[0], bytes), c.exitCode == 0);
    EXPECT_EQ(Sessions(*m_devices[0]), std::stoi(c.attempts));
    if (c.retries > 0) {
      EXPECT_NE(Output().find("attempt 2 of 2"), std::string::npos) << Output();
    }
  }
}

// A station waiting for devices ends at once on SIGINT or SIGTERM, with 0 and its summary.
TEST_F(StationTest, SignalWhileWaitingEndsAtOnce) {
  const std::string image = Image(PatternBytes(1024, 1));
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    Start({"BOOT=" + image});
    ASSERT_TRUE(WaitUntil([&] { return Output().find("watching") != std::string::npos; },
                          std::chrono::milliseconds(5000)));
    const auto sent = Clock::now();
    ::kill(m_pid, signal);
    EXPECT_EQ(Finish(std::chrono::milliseconds(2000)), 0);
    EXPECT_LT(Clock::now() - sent, std::chrono::milliseconds(1000));
    EXPECT_NE(Output().find("0 device(s): 0 succeeded, 0 failed, 0 cancelled"), std::string::npos)
        << Output();
  }
}

// The first signal (SIGINT or SIGTERM) lets the running device finish and takes no new one; a
// second one cancels the running device (exit 128 + the signal that cancelled it). SIGHUP (the
// terminal closed) cancels at once: nobody is left to ask twice.
TEST_F(StationTest, FirstSignalFinishesTheRunningSecondCancels) {
  DeviceOptions paced;
  paced.paced = true;  // 32 KiB at the line's rate: about three seconds on the wire
  const auto bytes = PatternBytes(32768, 7);
  const std::string image = Image(bytes);
  const struct {
    int signals;
    int signal;
    int exitCode;
    const char* summary;
  } cases[] = {{1, SIGINT, 0, "1 device(s): 1 succeeded, 0 failed, 0 cancelled"},
               {2, SIGINT, 130, "1 device(s): 0 succeeded, 0 failed, 1 cancelled"},
               {2, SIGTERM, 143, "1 device(s): 0 succeeded, 0 failed, 1 cancelled"},
               {1, SIGHUP, 129, "1 device(s): 0 succeeded, 0 failed, 1 cancelled"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.signals << " x signal " << c.signal);
    m_devices.clear();
    fs::remove(Port(0));
    fs::remove(Port(1));
    AddDevice(paced);
    AddDevice(paced);
    Link(0);
    Start({"--no-redetect", "BOOT=" + image});
    ASSERT_TRUE(WaitUntil([&] { return Writing(1); }, std::chrono::milliseconds(10000)));
    for (int i = 0; i < c.signals; ++i) {
      ::kill(m_pid, c.signal);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Link(1);  // appears after the first signal: not taken
    EXPECT_EQ(Finish(), c.exitCode) << Output() << Output("err.txt");
    EXPECT_EQ(Holds(*m_devices[0], bytes), c.exitCode == 0);
    EXPECT_EQ(Sessions(*m_devices[1]), 0);
    EXPECT_NE(Output().find(c.summary), std::string::npos) << Output();
    // After one SIGINT the station says a second would cancel; after a hang-up it says nothing
    // of the kind (nobody is there to send one).
    const bool hint = Output().find("(a second signal cancels them)") != std::string::npos;
    if (c.signals == 1) {
      EXPECT_EQ(hint, c.signal != SIGHUP) << Output();
    }
  }
}

// The terminal closed in the middle of a transfer: SIGHUP, and the output goes nowhere (a pipe
// whose reader is gone stands for the terminal). The station still cancels the running unit,
// records it as cancelled and exits 129.
TEST_F(StationTest, HangUpCancelsAndRecordsThoughTheOutputIsGone) {
  DeviceOptions paced;
  paced.paced = true;
  const std::string image = Image(PatternBytes(32768, 4));
  AddDevice(paced);
  Link(0);
  int output[2];
  ASSERT_EQ(::pipe(output), 0);
  std::vector<std::string> args{
      VANTOR_BINARY,   "station",  "--match", (m_dir / "rig").string() + "/port*",
      "--no-redetect", "--record", Record(),  "BOOT=" + image};
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(output[1], STDOUT_FILENO);
    ::dup2(output[1], STDERR_FILENO);
    ::close(output[0]);
    ExecVantor(args);
  }
  m_spawned.push_back(pid);
  ::close(output[1]);
  ASSERT_TRUE(WaitUntil([&] { return Writing(1); }, std::chrono::milliseconds(10000)));
  ::close(output[0]);  // every later write of the station fails
  ::kill(pid, SIGHUP);
  pid_t ended = pid;
  EXPECT_EQ(Finish(ended, std::chrono::milliseconds(5000)), 129);
  const auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("port"), Port(0));
  // The cancel, bare or as the download's system error inside a segment (1223 - 10000).
  EXPECT_TRUE(lines[0].at("result.code") == "1223" || lines[0].at("result.code") == "-8777")
      << lines[0].at("result.code");
}

// Unit numbers: each device gets the counter's next number written into its image (verify reads
// the numbered image back); a device that fails keeps its number and is recorded with it; a
// later download on the same counter goes on from there; a place outside the image or a number
// too wide for it is a usage error before any device is touched.
TEST_F(StationTest, EachUnitGetsItsOwnNumberWrittenAndRecorded) {
  const auto bytes = PatternBytes(4096, 11);
  const std::string image = Image(bytes);
  const std::string counter = (m_dir / "counter").string();
  AddDevice();
  DeviceOptions refusing;
  refusing.refuseSegment = 0;
  refusing.refuseFrame = 1;
  AddDevice(refusing);
  AddDevice();
  for (std::size_t i = 0; i < 3; ++i)
    Link(i);
  Start({"--count", "3", "--verify", "--no-redetect", "--record", Record(), "--serial",
         "0x100010:4:be", "--serial-start", "500", "--serial-step", "2", "--serial-counter",
         counter, "BOOT=" + image});
  ASSERT_EQ(Finish(), 1) << Output() << Output("err.txt");
  std::map<std::string, std::map<std::string, std::string>> byPort;
  for (const auto& r : RecordLines())
    byPort[r.at("port")] = r;
  ASSERT_EQ(byPort.size(), 3u);
  std::set<std::string> numbers;
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& r = byPort[Port(i)];
    numbers.insert(r.at("unit.number"));
    EXPECT_EQ(r.at("unit.address"), "0x100010");
    EXPECT_EQ(r.at("id").size(), 32u);
    const std::uint32_t number = static_cast<std::uint32_t>(std::stoul(r.at("unit.number")));
    const std::vector<std::uint8_t> written{
        static_cast<std::uint8_t>(number >> 24), static_cast<std::uint8_t>(number >> 16),
        static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", number);
    EXPECT_EQ(r.at("unit.bytes"), hex);
    if (i == 1) {
      EXPECT_NE(r.at("result.code"), "0");
      continue;
    }
    EXPECT_EQ(r.at("result.code"), "0");
    EXPECT_EQ(r.at("verified"), "true");
    auto expected = bytes;
    std::copy(written.begin(), written.end(), expected.begin() + 0x10);
    EXPECT_TRUE(Holds(*m_devices[i], expected)) << i;
  }
  EXPECT_EQ(numbers, (std::set<std::string>{"500", "502", "504"}));
  // The image file itself is left as it was.
  EXPECT_EQ(ReadFileBytes(image), bytes);

  const auto download = [&](std::vector<std::string> extra, std::ostringstream& out,
                            std::ostringstream& err) {
    std::vector<std::string> args{"vantor",        "download", "-p",     m_devices[0]->path(),
                                  "--no-redetect", "--record", Record(), "BOOT=" + image};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args, out, err, false);
  };
  {
    std::ostringstream out, err;
    ASSERT_EQ(download({"--serial", "0x100ffc:4:le", "--serial-counter", counter}, out, err), 0)
        << out.str() << err.str();
    EXPECT_EQ(RecordLines().back().at("unit.number"), "506");
    EXPECT_EQ(RecordLines().back().at("unit.bytes"), "fa010000");
  }
  const int sessions = Sessions(*m_devices[0]);
  const struct {
    std::vector<std::string> extra;
    const char* message;
  } refused[] = {
      {{"--serial", "0x100ffe:4", "--serial-counter", counter}, "lies in no image"},
      {{"--serial", "0x200000:4", "--serial-counter", counter}, "lies in no image"},
      {{"--serial", "0x100000:1", "--serial-counter", counter}, "does not fit"},
      {{"--serial", "0x100000:2:ascii", "--serial-counter", counter}, "does not fit"},
      {{"--serial", "0x100000:4:xx", "--serial-counter", counter}, "ADDR:SIZE"},
      {{"--serial", "0x100000:4"}, "--serial-counter"},
      {{"--serial-counter", counter}, "need --serial"},
  };
  for (const auto& c : refused) {
    std::ostringstream out, err;
    EXPECT_EQ(download(c.extra, out, err), 2) << c.extra[1];
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
  }
  EXPECT_EQ(Sessions(*m_devices[0]), sessions);
  std::ostringstream out, err;
  ASSERT_EQ(download({"--serial", "0x100000:8", "--serial-counter", counter}, out, err), 0);
  // Nothing used by the refusals; this run steps by 1.
  EXPECT_EQ(RecordLines().back().at("unit.number"), "507");
}

// Every file a run writes (the record, the spool, the counter, the list's position) is checked
// before the first device, after every other option: a refused run exits 2 naming the file,
// sends nothing, and creates no file (no empty counter left by a usage error).
TEST_F(StationTest, FilesItWritesAreCheckedBeforeAnythingIsCreatedOrSent) {
  const std::string image = Image(PatternBytes(4096, 3));
  AddDevice();
  const std::string missing = (m_dir / "missing" / "x.jsonl").string();
  const std::string counter = (m_dir / "new-counter").string();
  const std::string list = (m_dir / "list.txt").string();
  WriteFileText(list, "# every number used\n");
  struct Case {
    std::vector<std::string> extra;
    const char* message;
    std::string notMade;
  };
  std::vector<Case> cases{
      {{"--record", missing}, "missing does not exist", missing},
      {{"--serial", "0x100010:4", "--serial-counter", counter}, "give --serial-start", counter},
      {{"--serial", "0x100010:1", "--serial-counter", counter, "--serial-start", "1000"},
       "does not fit",
       counter},
      {{"--serial", "0x100010:4", "--serial-counter", counter, "--serial-start", "1", "--record",
        missing},
       "cannot write the record",
       counter},
      {{"--serial", "0x100010:4", "--serial-counter", (m_dir / "missing" / "c").string(),
        "--serial-start", "1"},
       "cannot write the unit counter",
       counter},
      {{"--serial", "0x100010:4", "--serial-list", list}, "every value", list + ".position"},
  };
  if (production::ProductionDatabase::BuiltIn()) {
    // Unreachable, records only: it would start and spool, so the spool must be writable.
    cases.push_back({{"--database", "postgresql://nobody@127.0.0.1:1/none", "--spool", missing},
                     "cannot write the spool",
                     missing});
  }
  for (const auto& c : cases) {
    for (const bool station : {false, true}) {
      SCOPED_TRACE(c.message + std::string(station ? " (station)" : " (download)"));
      std::vector<std::string> args{"vantor", "download", "-p", m_devices[0]->path()};
      if (station)
        args = {"vantor", "station", "--match", m_devices[0]->path(), "--count", "1"};
      args.insert(args.end(), c.extra.begin(), c.extra.end());
      args.push_back("BOOT=" + image);
      std::ostringstream out, err;
      EXPECT_EQ(RunCli(args, out, err, false), 2) << out.str() << err.str();
      EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
      EXPECT_FALSE(fs::exists(c.notMade));
    }
  }
  EXPECT_EQ(Sessions(*m_devices[0]), 0);
}

// The station killed (SIGKILL) while its devices are being written: a station started again on
// the same counter file hands out no number the killed one had given.
TEST_F(StationTest, KilledStationLeavesNoNumberToUseAgain) {
  DeviceOptions paced;
  paced.paced = true;  // about two seconds on the wire each
  const auto bytes = PatternBytes(16384, 12);
  const std::string image = Image(bytes);
  const std::string counter = (m_dir / "counter").string();
  const std::vector<std::string> serial{"--serial",         "0x100020:4:le", "--serial-start", "40",
                                        "--serial-counter", counter,         "--no-redetect"};
  for (std::size_t i = 0; i < 6; ++i)
    AddDevice(i < 3 ? paced : DeviceOptions{});
  for (std::size_t i = 0; i < 3; ++i)
    Link(i);
  std::vector<std::string> args = serial;
  args.push_back("BOOT=" + image);
  Start(args);
  ASSERT_TRUE(WaitUntil([&] { return Writing(3); }, std::chrono::milliseconds(15000)));
  ::kill(m_pid, SIGKILL);
  EXPECT_EQ(Finish(), -2);
  // The killed station had taken 40, 41 and 42 (written down before any was sent).
  const auto numberIn = [&](std::size_t i) {
    std::vector<std::uint8_t> b;
    m_devices[i]->With([&](devsim::Device& d) { b = d.ReadMemory(kBootAddress + 0x20, 4); });
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  };
  for (std::size_t i = 0; i < 3; ++i)
    Unlink(i);
  for (std::size_t i = 3; i < 6; ++i)
    Link(i);
  args.insert(args.begin(), {"--count", "3"});
  Start(args);
  ASSERT_EQ(Finish(), 0) << Output() << Output("err.txt");
  std::set<std::uint32_t> second;
  for (std::size_t i = 3; i < 6; ++i)
    second.insert(numberIn(i));
  EXPECT_EQ(second, (std::set<std::uint32_t>{43, 44, 45}));
}

}  // namespace
}  // namespace vantor::cli
