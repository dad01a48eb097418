// The vantor tool end to end against the simulated device on a pseudo-terminal: every command's
// output, files and exit code, the failures (refusal, silence, "~dboot" refused, bad input files
// that must send nothing, malformed read-back), --json and the sim command as a real process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/device_options.h"
#include "cli/images.h"
#include "cli/report/reporter.h"
#include "device/flows.h"
#include "device/port_tuning.h"
#include "device/texts.h"
#include "devsim/pty_transport.h"
#include "production/json_string.h"
#include "serial/low_latency.h"
#include "serial/port_enumeration.h"
#include "serial/port_identity.h"
#include "support/flat_json.h"
#include "support/test_files.h"
#include "vantor_version.h"

#if defined(__linux__)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace vantor::cli {
namespace {

namespace fs = std::filesystem;
using namespace vantor::device;
using devsim::DeviceEvent;
using devsim::DeviceOptions;
using devsim::DeviceState;
using production::JsonString;
using vantor::testing::PatternBytes;
using vantor::testing::ReadFileBytes;
using vantor::testing::TempFolder;
using vantor::testing::WriteFileBytes;
using vantor::testing::WriteFileText;

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

CliRun Cli(std::vector<std::string> args) {
  args.insert(args.begin(), "vantor");
  std::ostringstream out, err;
  CliRun run;
  run.code = RunCli(args, out, err, false);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A temporary folder for image files and read-back output, and the short waits of a test.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { SetWaitScaleForTesting(0.01); }
  void TearDown() override { SetWaitScaleForTesting(1.0); }

  std::unique_ptr<devsim::PtyDevice> Device(DeviceOptions options = {}) {
    auto device = devsim::PtyDevice::Start(std::move(options));
    EXPECT_TRUE(device);
    return device;
  }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path path = m_dir / name;
    WriteFileBytes(path, bytes);
    return path.string();
  }
  static std::vector<DeviceEvent> Events(devsim::PtyDevice& device) {
    std::vector<DeviceEvent> events;
    device.With([&](devsim::Device& d) { events = d.events(); });
    return events;
  }
  static std::vector<std::uint8_t> Memory(devsim::PtyDevice& device, std::uint32_t address,
                                          std::size_t count) {
    std::vector<std::uint8_t> bytes;
    device.With([&](devsim::Device& d) { bytes = d.ReadMemory(address, count); });
    return bytes;
  }
  static std::vector<DeviceEvent> OfKind(const std::vector<DeviceEvent>& events,
                                         DeviceEvent::Kind kind) {
    std::vector<DeviceEvent> found;
    for (const auto& e : events) {
      if (e.kind == kind)
        found.push_back(e);
    }
    return found;
  }

  TempFolder m_folder;
  const fs::path m_dir = m_folder.path();
};

TEST_F(CliTest, DetectTellsWhatAnswers) {
  struct Case {
    const char* name;
    DeviceOptions options;
    int code;
    std::string out;
  };
  DeviceOptions v15;
  v15.bootVersion = 0x1F1F1F1F;
  DeviceOptions firmware;
  firmware.state = DeviceState::kFirmware;
  firmware.firmwareVersion = "FW 3.1-beta";
  const Case cases[] = {
      {"bootloader", {}, 0, "boot v1.2.3.4\n"},
      {"low four bits", v15, 0, "boot v15.15.15.15\n"},
      {"firmware", firmware, 0, "FW 3.1-beta\n"},
  };
  for (const Case& c : cases) {
    auto device = Device(c.options);
    const CliRun run = Cli({"detect", "-p", device->path()});
    EXPECT_EQ(run.code, c.code) << c.name << run.err;
    EXPECT_EQ(run.out, c.out) << c.name;
  }
}

TEST_F(CliTest, DetectOfASilentDeviceFailsWithTheProgramsMessage) {
  DeviceOptions options;
  options.answerBootVersion = false;
  auto device = Device(options);
  const CliRun run = Cli({"detect", "-p", device->path()});
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(kNoAnswerText), std::string::npos) << run.err;
  // Version query twice, then "~rv".
  const auto events = Events(*device);
  EXPECT_EQ(OfKind(events, DeviceEvent::Kind::kVersionQuery).size(), 2u);
  const auto texts = OfKind(events, DeviceEvent::Kind::kTextCommand);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].text, "~rv");
}

TEST_F(CliTest, PortThatDoesNotOpenSaysWhy) {
  const CliRun run = Cli({"detect", "-p", (m_dir / "ttyUSB77").string()});
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_NE(run.err.find(kNoAnswerText), std::string::npos);
  EXPECT_NE(run.err.find("ttyUSB77"), std::string::npos);
  EXPECT_NE(run.err.find(serial::SystemErrorText(ENOENT)), std::string::npos) << run.err;

  // Root passes every permission check, so the permission text is checked directly.
  const std::string denied = OpenFailureText("/dev/ttyUSB0", EACCES);
  EXPECT_NE(denied.find(serial::SystemErrorText(EACCES)), std::string::npos);
  EXPECT_NE(denied.find("group"), std::string::npos);
  EXPECT_NE(denied.find("sudo usermod -aG "), std::string::npos) << denied;
}

TEST_F(CliTest, DownloadIntoARunningBootloader) {
  auto device = Device();
  const auto image = PatternBytes(5000, 3);
  const CliRun run = Cli({"download", "-p", device->path(), "CODE=" + File("code.bin", image)});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(Memory(*device, 0x108000, image.size()), image);
  device->With([](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0x3C690000u); });
  // Detected, downloaded, detected again; no "~dboot" since the bootloader answered.
  EXPECT_EQ(run.out.find("boot v1.2.3.4\n"), 0u) << run.out;
  EXPECT_NE(run.out.find(std::string(kDownloadDoneLog) + "boot v1.2.3.4\n" + kFinishedLog),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(OfKind(Events(*device), DeviceEvent::Kind::kTextCommand).empty());
}

TEST_F(CliTest, DownloadSwitchesARunningFirmwareToItsBootloader) {
  DeviceOptions options;
  options.state = DeviceState::kFirmware;
  options.restartDelay = std::chrono::milliseconds(10);
  auto device = Device(options);
  const auto oem = PatternBytes(13312, 9);
  const CliRun run =
      Cli({"download", "--no-redetect", "-p", device->path(), "OEM=" + File("oem.bin", oem)});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(Memory(*device, 0x13CC00, oem.size()), oem);
  device->With([](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0u); });
  const auto texts = OfKind(Events(*device), DeviceEvent::Kind::kTextCommand);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "~rv");
  EXPECT_EQ(texts[1].text, "~dboot");
  EXPECT_NE(run.out.find("~dboot: acknowledged\nboot v1.2.3.4\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\n" + std::string(kFinishedLog)), std::string::npos);  // --no-redetect
}

TEST_F(CliTest, DownloadFailuresExitOneWithTheProgramsMessage) {
  struct Case {
    const char* name;
    DeviceOptions options;
    std::string message;
    bool sessionOpened;
  };
  DeviceOptions refusal;
  refusal.refuseSegment = 0;
  refusal.refuseFrame = 1;
  refusal.refuseStatus = 2;
  DeviceOptions dbootRefused;
  dbootRefused.state = DeviceState::kFirmware;
  dbootRefused.bootCommandReply = devsim::BootCommandReply::kRefuse;
  DeviceOptions silent;
  silent.answerBootVersion = false;
  DeviceOptions stalled;
  stalled.stallSegment = 0;
  stalled.stallFrame = 1;
  // After the programs' text and code, the code's meaning.
  const Case cases[] = {
      {"data frame refused", refusal,
       std::string(kCommErrorText) + "\n-9978\n-9978: the device refused a data frame (status 2)\n",
       true},
      {"device stalled", stalled,
       std::string(kCommErrorText) +
           "\n-8540\n-8540: the device stopped answering (no reply within 5000 ms)\n",
       true},
      {"~dboot refused", dbootRefused, std::string(kCheckDeviceText), false},
      {"silent device", silent, std::string(kNoAnswerText), false},
  };
  const std::string code = File("code.bin", PatternBytes(2000, 1));
  for (const Case& c : cases) {
    auto device = Device(c.options);
    const CliRun run = Cli({"download", "-p", device->path(), "CODE=" + code});
    EXPECT_EQ(run.code, kExitFailure) << c.name;
    EXPECT_EQ(run.err, c.message) << c.name;
    EXPECT_EQ(OfKind(Events(*device), DeviceEvent::Kind::kOpenSession).size(),
              c.sessionOpened ? 1u : 0u)
        << c.name;
  }
}

TEST_F(CliTest, BadInputIsRefusedBeforeAnythingIsSent) {
  auto device = Device();
  const std::string port = device->path();
  const std::string oemShort = File("oem.bin", PatternBytes(13311, 0));
  const std::string paramLong = File("param.bin", PatternBytes(3073, 0));
  const std::string codeLong = File("code.bin", PatternBytes(98305, 0));
  const std::string bootShort = File("boot.bin", PatternBytes(100, 0));
  const std::string missing = (m_dir / "missing.bin").string();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"download", "-p", port, "OEM=" + oemShort}, "Wrong Block Size"},
      {{"download", "-p", port, "PARAMETER=" + paramLong}, "Wrong Block Size"},
      {{"download", "-p", port, "CODE=" + codeLong}, kWrongFileText},
      {{"download", "-p", port, "CODE=" + missing}, missing},
      {{"download", "-p", port, "BOOT=" + bootShort, "CODE=" + missing}, missing},
      {{"download", "-p", port, "CUSTOM=" + bootShort}, "unknown name 'CUSTOM'"},
      {{"download", "-p", port, bootShort}, "expected NAME=FILE"},
      {{"download", "-p", port, "--flags", "0xZZ", "BOOT=" + bootShort}, "--flags"},
      {{"download", "-p", port}, "images is required"},
      {{"write", "-p", port, "boot=" + bootShort}, "Wrong Block Size"},
      {{"read", "-p", port, "everything"}, "unknown region 'everything'"},
      {{"detect"}, "no port given"},
      {{"flash"}, ""},
      // An unquoted --match glob the shell expanded: the second port lands among the images.
      {{"station", "--match", port, port, "BOOT=" + bootShort}, "quote the --match pattern"},
      {{"station", "--match", "COM3", "COM4", "BOOT=" + bootShort}, "quote the --match pattern"},
      {{"station", "--match", port, "/dev/ttyUSB1", "BOOT=" + bootShort},
       "quote the --match pattern"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.code, kExitUsage) << c.args.back() << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << " in: " << run.err;
  }
  EXPECT_TRUE(Events(*device).empty());
}

// Image files that carry their addresses, as binutils writes them (a writer independent of ours):
// two pieces of CODE with a gap, linked into an ELF whose run addresses differ from its load
// addresses, and the Intel HEX and S-record objcopy makes of it.
class FormattedImageTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    const std::string a = File("a.bin", m_a);
    const std::string b = File("b.bin", m_b);
    const std::string dir = m_dir.string();
    WriteFileText(m_dir / "link.ld",
                  "SECTIONS { .a 0x20108000 : AT(0x108000) { a.o(.data) } "
                  ".b 0x2010A000 : AT(0x10A000) { b.o(.data) } /DISCARD/ : { *(*) } }\n");
    Run("cd " + dir + " && objcopy -I binary -O elf32-i386 -B i386 a.bin a.o && " +
        "objcopy -I binary -O elf32-i386 -B i386 b.bin b.o && " +
        "ld -m elf_i386 -T link.ld -o app.elf a.o b.o && objcopy -O ihex app.elf app.hex && " +
        "objcopy -O srec app.elf app.srec");
  }
  static void Run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // The window as it must be after the download: the old contents with exactly the two pieces.
  std::vector<std::uint8_t> Expected(const std::vector<std::uint8_t>& before) const {
    auto expected = before;
    std::copy(m_a.begin(), m_a.end(), expected.begin() + 0x8000);
    std::copy(m_b.begin(), m_b.end(), expected.begin() + 0xA000);
    return expected;
  }

  const std::vector<std::uint8_t> m_a = PatternBytes(3000, 21);
  const std::vector<std::uint8_t> m_b = PatternBytes(500, 22);
};

TEST_F(FormattedImageTest, DownloadPutsExactlyTheFilesBytesAtTheirAddresses) {
  DeviceOptions options;
  options.initialMemory = PatternBytes(devsim::kWindowSize, 99);
  for (const char* file : {"app.elf", "app.hex", "app.srec"}) {
    for (const std::string prefix : {"CODE=", ""}) {
      const std::string name = prefix + file;
      auto device = Device(options);
      const CliRun run = Cli(
          {"download", "--no-redetect", "-p", device->path(), prefix + (m_dir / file).string()});
      ASSERT_EQ(run.code, kExitOk) << name << run.err;
      EXPECT_EQ(Memory(*device, devsim::kWindowBase, devsim::kWindowSize),
                Expected(options.initialMemory))
          << name;
      EXPECT_EQ(OfKind(Events(*device), DeviceEvent::Kind::kStartSegment).size(), 2u) << name;
      device->With(
          [&](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0x3C690000u) << name; });
    }
  }
  // write: a bare file's runs go to the firmware slot, with its flags word.
  auto device = Device(options);
  const CliRun run = Cli({"write", "-p", device->path(), (m_dir / "app.hex").string()});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(Memory(*device, devsim::kWindowBase, devsim::kWindowSize),
            Expected(options.initialMemory));
  device->With([](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0x3C690000u); });
}

TEST_F(FormattedImageTest, BadFilesExitTwoNamingTheLineAndSendNothing) {
  // One wrong checksum on the third line.
  std::ifstream in(m_dir / "app.hex");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ASSERT_GT(lines.size(), 3u);
  char& last = lines[2][lines[2].find_last_not_of("\r")];
  last = last == '0' ? '1' : '0';
  std::string badText;
  for (const std::string& line : lines)
    badText += line + "\n";
  WriteFileText(m_dir / "bad.hex", badText);
  Run("cd " + m_dir.string() + " && objcopy --change-addresses 0x34c00 -O ihex app.elf oem.hex &&" +
      " objcopy --change-addresses -0x8000 -O srec app.elf low.srec && head -c 200 app.elf > "
      "cut.elf");

  auto device = Device();
  const std::string port = device->path();
  const std::string bad = (m_dir / "bad.hex").string();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"download", "-p", port, "CODE=" + bad}, bad + ": line 3: wrong checksum"},
      {{"download", "-p", port, bad}, bad + ": line 3: wrong checksum"},
      {{"write", "-p", port, "firmware=" + bad}, bad + ": line 3: wrong checksum"},
      {{"download", "-p", port, "OEM=" + (m_dir / "oem.hex").string()}, "Wrong Block Size\n"},
      {{"download", "-p", port, "CODE=" + (m_dir / "low.srec").string()}, "lies outside CODE"},
      {{"download", "-p", port, (m_dir / "cut.elf").string()}, "cut.elf: offset 0x"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.code, kExitUsage) << c.args.back() << run.out;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << " in: " << run.err;
  }
  EXPECT_TRUE(Events(*device).empty());
}

TEST_F(FormattedImageTest, ReadSavesRegionsAsHexOrSrecAtTheirAddresses) {
  DeviceOptions options;
  options.initialMemory = PatternBytes(devsim::kWindowSize, 31);
  auto device = Device(options);
  for (const char* format : {"hex", "srec"}) {
    const CliRun run = Cli({"read", "-p", device->path(), "boot", "parameter", "--format", format,
                            "-o", m_dir.string()});
    ASSERT_EQ(run.code, kExitOk) << format << run.err;
    const std::string input = format == std::string("hex") ? "ihex" : "srec";
    const std::pair<std::uint32_t, std::size_t> regions[] = {{0x138000, 0x4000}, {0x13C000, 0xC00}};
    for (const auto& [address, size] : regions) {
      char name[32];
      std::snprintf(name, sizeof name, "vantor.%06x.%s", address, format);
      // objcopy starts a binary at the file's lowest address; --gap-fill shows any hole.
      Run("cd " + m_dir.string() + " && objcopy -I " + input + " -O binary " + name +
          " back.bin && objcopy -I " + input + " -O srec --srec-forceS3 " + name + " first.s3");
      EXPECT_EQ(ReadFileBytes(m_dir / "back.bin"), Memory(*device, address, size)) << name;
      std::ifstream first(m_dir / "first.s3");
      std::string header, record;
      std::getline(first, header);
      std::getline(first, record);
      char at[16];
      std::snprintf(at, sizeof at, "%08X", address);
      EXPECT_EQ(record.substr(4, 8), at) << name;
    }
  }
  EXPECT_FALSE(fs::exists(m_dir / "vantor.138000.bin"));
  const CliRun bad = Cli({"read", "-p", device->path(), "boot", "--format", "ihex"});
  EXPECT_EQ(bad.code, kExitUsage);
  EXPECT_NE(bad.err.find("--format"), std::string::npos) << bad.err;
}

TEST_F(CliTest, DownloadSendsInTheOrderGivenLaterWins) {
  auto device = Device();
  const auto oemA = PatternBytes(13312, 1);
  const auto oemB = PatternBytes(13312, 2);
  const auto param = PatternBytes(3072, 3);
  const CliRun run =
      Cli({"download", "--no-redetect", "-p", device->path(), "OEM=" + File("a.bin", oemA),
           "PARAMETER=" + File("p.bin", param), "oem=" + File("b.bin", oemB)});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  const auto starts = OfKind(Events(*device), DeviceEvent::Kind::kStartSegment);
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(Memory(*device, 0x13CC00, oemB.size()), oemB);
  EXPECT_EQ(Memory(*device, 0x13C000, param.size()), param);
  const auto data = OfKind(Events(*device), DeviceEvent::Kind::kDataFrame);
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(data.front().address, 0x13C000u);  // PARAMETER first: the second OEM moved to the end
  EXPECT_EQ(data.back().address + data.back().payloadBytes, 0x13CC00u + 13312u);
  device->With([](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0u); });

  // --flags overrides the word.
  const CliRun flagged = Cli({"download", "--no-redetect", "--flags", "0x12345678", "-p",
                              device->path(), "PARAMETER=" + File("p2.bin", param)});
  ASSERT_EQ(flagged.code, kExitOk) << flagged.err;
  device->With([](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0x12345678u); });
}

TEST_F(CliTest, WriteTakesSlotsAtTheirAbsoluteAddresses) {
  auto device = Device();
  const auto firmware = PatternBytes(1000, 4);
  const auto boot = PatternBytes(0x4000, 5);
  const CliRun run = Cli({"write", "-p", device->path(), "firmware=" + File("f.bin", firmware),
                          "boot=" + File("b.bin", boot)});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(Memory(*device, 0x100000, firmware.size()), firmware);
  EXPECT_EQ(Memory(*device, 0x138000, boot.size()), boot);
  device->With([](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0x3C690000u); });

  const CliRun noFirmware =
      Cli({"write", "-p", device->path(), "parameter=" + File("p.bin", PatternBytes(0xC00, 6))});
  ASSERT_EQ(noFirmware.code, kExitOk) << noFirmware.err;
  device->With([](devsim::Device& d) { EXPECT_EQ(d.lastDownloadFlags(), 0u); });
}

TEST_F(CliTest, WriteNeedsARunningBootloader) {
  DeviceOptions options;
  options.state = DeviceState::kFirmware;
  auto device = Device(options);
  const CliRun run =
      Cli({"write", "-p", device->path(), "firmware=" + File("f.bin", PatternBytes(10, 0))});
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_NE(run.err.find("bootloader does not answer"), std::string::npos) << run.err;
  const auto events = Events(*device);
  EXPECT_TRUE(OfKind(events, DeviceEvent::Kind::kOpenSession).empty());
  for (const auto& e : OfKind(events, DeviceEvent::Kind::kTextCommand))
    EXPECT_NE(e.text, "~dboot");
}

TEST_F(CliTest, ReadSavesEachRegionWithExactlyItsBytes) {
  DeviceOptions options;
  options.initialMemory = PatternBytes(devsim::kWindowSize, 11);
  auto device = Device(options);
  const CliRun run = Cli(
      {"read", "-p", device->path(), "oem", "firmware", "parameter", "boot", "-o", m_dir.string()});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  struct Expected {
    const char* file;
    std::uint32_t address;
    std::size_t size;
  };
  const Expected files[] = {{"vantor.100000.bin", 0x100000, 0x38000},
                            {"vantor.138000.bin", 0x138000, 0x4000},
                            {"vantor.13c000.bin", 0x13C000, 0xC00},
                            {"vantor.13cc00.bin", 0x13CC00, 0x3400}};
  for (const Expected& f : files)
    EXPECT_EQ(ReadFileBytes(m_dir / f.file), Memory(*device, f.address, f.size)) << f.file;
  // Ascending address order on the wire.
  const auto texts = OfKind(Events(*device), DeviceEvent::Kind::kTextCommand);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front().text, "~du00100000,40");
  EXPECT_EQ(texts.back().text, "~du0013FFC0,40");
}

TEST_F(CliTest, ReadBinaryIsTheWholeWindowAlone) {
  std::vector<Region> regions;
  std::string error;
  ASSERT_TRUE(SelectRegions({"oem", "binary", "boot"}, regions, error));
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].address, 0x100000u);
  EXPECT_EQ(regions[0].length, 0x40000);
  ASSERT_TRUE(SelectRegions({"oem", "boot", "oem"}, regions, error));
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[0].address, 0x138000u);
  EXPECT_EQ(regions[1].address, 0x13CC00u);
}

TEST_F(CliTest, ReadWithAMalformedReplySavesNoFileForThatRegion) {
  DeviceOptions options;
  options.readBackReply = devsim::ReadBackReply::kMalformed;
  // Parameter is 48 pieces, read twice; oem's sixth piece is malformed.
  options.readBackFaultFrom = 2 * 48 + 5;
  auto device = Device(options);
  const CliRun run = Cli({"read", "-p", device->path(), "parameter", "oem", "-o", m_dir.string()});
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_TRUE(fs::exists(m_dir / "vantor.13c000.bin"));
  EXPECT_FALSE(fs::exists(m_dir / "vantor.13cc00.bin"));
  EXPECT_NE(run.err.find("oem"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(std::string(kCommErrorText) + "\n-2"), std::string::npos) << run.err;
}

// A bit flipped on the line can turn a hex digit of a reply into another one: the read then
// looks valid but is not the device's memory. Over many noisy lines, a read that succeeds saved
// exactly the memory, and the second read-back is what caught the flips that looked valid.
TEST_F(CliTest, ReadOverANoisyLineSavesOnlyTheDevicesBytes) {
  int succeeded = 0;
  int caughtBySecondRead = 0;
  for (std::uint64_t seed = 1; seed <= 40; ++seed) {
    DeviceOptions options;
    options.paced = false;
    options.initialMemory = PatternBytes(devsim::kWindowSize, 5);
    options.chaosSeed = seed;
    options.toHost.flip = 1e-4;  // about one flip in 1.5 read-backs of parameter
    auto device = Device(options);
    const fs::path file = m_dir / "vantor.13c000.bin";
    fs::remove(file);
    const CliRun run = Cli({"read", "-p", device->path(), "parameter", "-o", m_dir.string()});
    if (run.code == kExitOk) {
      ++succeeded;
      EXPECT_EQ(ReadFileBytes(file), Memory(*device, 0x13C000, 0xC00)) << "seed " << seed;
    } else {
      EXPECT_FALSE(fs::exists(file)) << "seed " << seed;
      caughtBySecondRead += run.err.find("the two read-backs differ") != std::string::npos;
    }
  }
  EXPECT_GT(succeeded, 0);
  EXPECT_GT(caughtBySecondRead, 0);
}

TEST_F(CliTest, VerifyReadsBackAndNamesTheFirstDifference) {
  DeviceOptions options;
  options.corruptAddress = 0x108123;
  auto device = Device(options);
  const std::string code = File("code.bin", PatternBytes(1000, 8));
  const CliRun bad = Cli({"download", "--verify", "-p", device->path(), "CODE=" + code});
  EXPECT_EQ(bad.code, kExitFailure);
  EXPECT_NE(bad.err.find("0x108123"), std::string::npos) << bad.err;

  device->With([](devsim::Device& d) { d.options().corruptAddress.reset(); });
  const CliRun good = Cli({"download", "--verify", "-p", device->path(), "CODE=" + code});
  EXPECT_EQ(good.code, kExitOk) << good.err;
  EXPECT_NE(good.out.find("verified in "), std::string::npos) << good.out;
}

TEST_F(CliTest, JsonWritesOneObjectPerLineAndNothingElse) {
  DeviceOptions options;
  options.refuseSegment = 0;
  options.refuseFrame = 2;
  auto device = Device(options);
  const CliRun run = Cli(
      {"--json", "download", "-p", device->path(), "CODE=" + File("c.bin", PatternBytes(3000, 1))});
  EXPECT_EQ(run.code, kExitFailure);
  std::istringstream lines(run.out);
  std::string line;
  std::vector<std::string> all;
  while (std::getline(lines, line)) {
    EXPECT_EQ(line.front(), '{') << line;
    EXPECT_EQ(line.back(), '}') << line;
    EXPECT_EQ(line.find("{\"port\":" + JsonString(device->path()) + ",\"event\":"), 0u) << line;
    all.push_back(line);
  }
  ASSERT_GE(all.size(), 4u);
  EXPECT_NE(all[0].find("\"port_opened\""), std::string::npos);
  EXPECT_NE(all[1].find("\"detected\""), std::string::npos);
  EXPECT_NE(all[1].find("\"version\":\"boot v1.2.3.4\""), std::string::npos);
  EXPECT_EQ(all.back(),
            "{\"port\":" + JsonString(device->path()) +
                ",\"event\":\"result\",\"code\":-9978,\"message\":\"통신에러 \\n-9978\","
                "\"meaning\":\"-9978: the device refused a data frame (status 2)\"}");
}

// The sim command's noise and flood flags as device options; a bad value is refused by name.
TEST(SimFlagsTest, ChaosAndFloodFlags) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {{"--chaos", "drop=0.01,flip=0.02", "--chaos-to-host", "cut=0.001", "--chaos-seed", "42",
        "--chaos-delay", "70", "--chaos-cut-time", "900", "--flood-version", "--flood-wait-phase",
        "--flood-interval", "3"},
       ""},
      {{"--chaos", "drop=2"}, "--chaos: expected KIND=RATE"},
      {{"--chaos-to-device", "shake=0.1"}, "--chaos-to-device: expected KIND=RATE"},
      {{"--chaos-to-host", "drop=0.1x"}, "--chaos-to-host: expected KIND=RATE"},
      {{"--chaos", "drop"}, "--chaos: expected KIND=RATE"},
      {{"--chaos", "drop=0.6,cut=0.6"}, "--chaos: the rates add up to more than 1"},
  };
  for (const Case& c : cases) {
    CLI::App app;
    DeviceFlags flags;
    AddDeviceFlags(app, flags);
    std::vector<std::string> reversed(c.args.rbegin(), c.args.rend());
    ASSERT_NO_THROW(app.parse(reversed));
    devsim::DeviceOptions o;
    std::string error;
    EXPECT_EQ(MakeDeviceOptions(flags, o, error), c.error.empty()) << c.args[1];
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    if (!c.error.empty())
      continue;
    EXPECT_EQ(o.toDevice.drop, 0.01);
    EXPECT_EQ(o.toDevice.flip, 0.02);
    EXPECT_EQ(o.toDevice.cut, 0.0);
    EXPECT_EQ(o.toHost.drop, 0.01);
    EXPECT_EQ(o.toHost.cut, 0.001);
    EXPECT_EQ(o.chaosSeed, 42u);
    EXPECT_EQ(o.chaosDelay, std::chrono::milliseconds(70));
    EXPECT_EQ(o.chaosCutTime, std::chrono::milliseconds(900));
    EXPECT_TRUE(o.floodWrongVersionAnswers);
    EXPECT_TRUE(o.floodOtherFramesInWaitPhase);
    EXPECT_EQ(o.floodInterval, std::chrono::milliseconds(3));
  }
}

TEST(JsonStringTest, EscapesAndKeepsUtf8Valid) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"통신에러 \n", "\"통신에러 \\n\""},
      {"\r\t\x01", "\"\\r\\t\\u0001\""},
      {"v\xe9", "\"v\u00e9\""},                    // a Latin-1 byte from an 8-bit firmware text
      {"\xed\xa0\x80", "\"\u00ed\u00a0\u0080\""},  // an encoded surrogate is not UTF-8
      {"\xff\xfe", "\"\u00ff\u00fe\""},
  };
  for (const auto& [text, json] : cases)
    EXPECT_EQ(JsonString(text), json);
}

// The events' members in their order, a port name that is not UTF-8 read as Latin-1, seconds to
// the millisecond.
TEST(JsonReporterTest, MembersInOrderAndValidUtf8) {
  std::ostringstream out;
  auto reporter = MakeJsonReporter(out, "/dev/tty\xff");
  reporter->Message("v\xe9 \"1\"");
  reporter->Verify(0, std::nullopt, 1.23456);
  reporter->Verify(-1, 0x1234u, 2.0);
  reporter->SegmentStarted(0, 2, 0x13000, 4096, "CODE");
  EXPECT_EQ(out.str(),
            "{\"port\":\"/dev/tty\u00ff\",\"event\":\"message\",\"text\":\"v\u00e9 \\\"1\\\"\"}\n"
            "{\"port\":\"/dev/tty\u00ff\",\"event\":\"verify\",\"result\":0,\"ok\":true,"
            "\"seconds\":1.235}\n"
            "{\"port\":\"/dev/tty\u00ff\",\"event\":\"verify\",\"result\":-1,\"ok\":false,"
            "\"first_difference\":4660,\"seconds\":2.0}\n"
            "{\"port\":\"/dev/tty\u00ff\",\"event\":\"segment_started\",\"what\":\"CODE\","
            "\"index\":0,\"count\":2,\"address\":77824,\"length\":4096}\n");
}

TEST_F(CliTest, TracePrintsTheByteTraceOnStderr) {
  auto device = Device();
  const CliRun run = Cli({"--trace", "download", "--no-redetect", "-p", device->path(),
                          "PARAMETER=" + File("p.bin", PatternBytes(3072, 0))});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  EXPECT_NE(run.err.find("Tx : 00 00 0f 00 00 00 00 00 \n"), std::string::npos);
  EXPECT_NE(run.err.find("Rx : "), std::string::npos);
  EXPECT_NE(run.err.find("0 bytes left for block @0013c000\n"), std::string::npos);
  EXPECT_EQ(run.out.find("Tx : "), std::string::npos);
}

TEST_F(CliTest, EveryCommandHasHelp) {
  for (const char* command :
       {"ports", "detect", "download", "write", "read", "codes", "sim", "demo"}) {
    const CliRun run = Cli({command, "--help"});
    EXPECT_EQ(run.code, kExitOk) << command;
    EXPECT_NE(run.out.find(std::string("vantor ") + command), std::string::npos) << command;
  }
  EXPECT_EQ(Cli({"--help"}).code, kExitOk);
}

TEST_F(CliTest, VersionIsTheProjectsVersion) {
  const CliRun run = Cli({"--version"});
  EXPECT_EQ(run.code, kExitOk);
  EXPECT_EQ(run.out, std::string("vantor ") + kVersion + "\n");
}

TEST_F(CliTest, CodesExplainsTheCodesGivenOrListsThemAll) {
  const CliRun two = Cli({"codes", "-9978", "1223"});
  EXPECT_EQ(two.code, kExitOk) << two.err;
  EXPECT_EQ(two.out, "-9978: the device refused a data frame (status 2)\n1223: cancelled\n");
  const CliRun all = Cli({"codes"});
  EXPECT_EQ(all.code, kExitOk);
  EXPECT_NE(all.out.find("-8540: the device stopped answering"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("N - 10000: system error N"), std::string::npos) << all.out;
  EXPECT_EQ(Cli({"codes", "many"}).code, kExitUsage);
}

TEST_F(CliTest, DemoVerifiesTheWholeFlow) {
  SetDemoPacingForTesting(false);
  const CliRun run = Cli({"demo"});
  SetDemoPacingForTesting(true);
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_NE(run.out.find("answered first:   1.2"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("result:           verified"), std::string::npos) << run.out;
}

TEST(LowLatencyTest, AsksForLowLatencyAndToleratesARefusal) {
#if defined(__linux__)
  std::vector<unsigned long> requests;
  int flagsSet = 0;
  const int result =
      serial::RequestLowLatencyOn(7, [&](int fd, unsigned long request, void* argument) {
        EXPECT_EQ(fd, 7);
        requests.push_back(request);
        auto* info = static_cast<serial_struct*>(argument);
        if (request == TIOCSSERIAL)
          flagsSet = info->flags;
        return 0;
      });
  EXPECT_EQ(result, 0);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], static_cast<unsigned long>(TIOCGSERIAL));
  EXPECT_EQ(requests[1], static_cast<unsigned long>(TIOCSSERIAL));
  EXPECT_NE(flagsSet & ASYNC_LOW_LATENCY, 0);
#endif
  // A pseudo-terminal refuses the request; the port opens and works all the same.
  auto device = devsim::PtyDevice::Start({});
  ASSERT_TRUE(device);
  auto port = serial::CreatePort(device->path(), false);
  ASSERT_TRUE(port->IsOpen());
  const int refusal = serial::RequestLowLatency(*port);
  EXPECT_TRUE(refusal == ENOTTY || refusal == EINVAL) << refusal;
  port.reset();
  std::int32_t error = 0;
  auto opened = OpenDevicePort(device->path(), false, error);
  ASSERT_TRUE(opened) << error;
  EXPECT_TRUE(DetectDevice(*opened).bootVersion.has_value());
}

// The real binary as a user runs it: "vantor sim --link" serves a device until SIGTERM.
TEST_F(CliTest, SimServesADeviceBehindALinkUntilSigterm) {
  for (const int signo : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signo);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const fs::path link = m_dir / "ttyUSB9";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      ::execl(VANTOR_BINARY, "vantor", "--quiet", "sim", "--no-pacing", "--link", link.c_str(),
              "--boot-version", "0x0a0b0c0d", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string first;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
      first += c;
    ::close(pipeFds[0]);
    ASSERT_EQ(first.rfind("/dev/pts/", 0), 0u) << first;
    EXPECT_EQ(fs::read_symlink(link).string(), first);
    // The link is a port like any other: the port list sees it and the tool talks through it.
    const auto listed = serial::EnumerateComPortsUnder(m_dir, "/sys");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0], link.string());
    const CliRun run = Cli({"detect", "-p", link.string()});
    EXPECT_EQ(run.out, "boot v10.11.12.13\n") << run.err;

    ::kill(pid, signo);  // closing the terminal ends it as SIGTERM does
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
}

}  // namespace
}  // namespace vantor::cli

namespace vantor::cli {
namespace {

namespace fs = std::filesystem;
using namespace vantor::device;
using production::JsonString;

TEST(FlatJsonTest, ReadsBackWhatTheReporterWrites) {
  const std::string message = "통신에러 \n-9978 \"quoted\" \\ v\xe9";
  const std::string line =
      "{\"port\":\"/dev/pts/1\",\"event\":\"result\",\"code\":-9978,"
      "\"ok\":false,\"message\":" +
      JsonString(message) + "}";
  const auto members = testing::ParseFlatJson(line);
  ASSERT_TRUE(members);
  EXPECT_EQ(members->at("event"), "result");
  EXPECT_EQ(members->at("code"), "-9978");
  EXPECT_EQ(members->at("ok"), "false");
  EXPECT_EQ(members->at("message"), "통신에러 \n-9978 \"quoted\" \\ v\u00e9");
  for (const char* bad : {"", "{", "{\"a\":}", "{\"a\":1", "{\"a\":1} x", "[1]"})
    EXPECT_FALSE(testing::ParseFlatJson(bad)) << bad;
}

// Three devices, one refusing a frame: every worker finishes, the table shows each, exit 1. With
// --trace the workers' bytes reach the run's stderr.
TEST(SeveralPortsTest, OneWorkerPerPortAndASummary) {
  SetWaitScaleForTesting(0.01);
  std::vector<std::unique_ptr<devsim::PtyDevice>> devices;
  for (int i = 0; i < 3; ++i) {
    devsim::DeviceOptions options;
    if (i == 1) {
      options.refuseSegment = 0;
      options.refuseFrame = 0;
    }
    devices.push_back(devsim::PtyDevice::Start(options));
    ASSERT_TRUE(devices.back());
  }
  const TempFolder folder;
  const fs::path image = folder / "parameter.bin";
  const auto bytes = std::vector<std::uint8_t>(3072, 0x5A);
  WriteFileBytes(image, bytes);
  std::vector<std::string> args{"vantor", "--trace", "download", "--no-redetect", "--verify"};
  for (auto& d : devices) {
    args.push_back("-p");
    args.push_back(d->path());
  }
  args.push_back("PARAMETER=" + image.string());
  std::ostringstream out, err;
  const int code = RunCli(args, out, err, false);
  SetWaitScaleForTesting(1.0);
  EXPECT_EQ(code, kExitFailure) << err.str();
  // 14 data frames each for the two devices that take the image, traced to the end although
  // the refusing device's worker ended first.
  std::size_t framesTraced = 0;
  for (std::size_t at = 0; (at = err.str().find("bytes left for block", at)) != std::string::npos;
       ++at)
    ++framesTraced;
  EXPECT_EQ(framesTraced, 28u);
  EXPECT_NE(err.str().find("Tx : "), std::string::npos);
  const std::string table = out.str();
  for (int i = 0; i < 3; ++i) {
    const std::string& path = devices[static_cast<std::size_t>(i)]->path();
    const auto row = table.find(path + " ");
    ASSERT_NE(row, std::string::npos) << table;
    const std::string line = table.substr(row, table.find('\n', row) - row);
    EXPECT_NE(line.find("boot v1.2.3.4"), std::string::npos) << line;
    EXPECT_NE(line.find(i == 1 ? "-9978" : "verified"), std::string::npos) << line;
    std::vector<std::uint8_t> memory;
    devices[static_cast<std::size_t>(i)]->With(
        [&](devsim::Device& d) { memory = d.ReadMemory(0x13C000, 3072); });
    EXPECT_EQ(memory == bytes, i != 1) << path;
  }
}

}  // namespace
}  // namespace vantor::cli
