// Parsing of the simulated device's flags.
#include "cli/device_options.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "serial/number_text.h"

namespace vantor::cli {

namespace {

// Decimal, 0x hex or 0 octal, within 32 bits.
bool ParseWord(const std::string& text, std::uint32_t& value) {
  const auto parsed = serial::ParseNumber<std::uint32_t>(text, serial::NumberSyntax::kPrefixed);
  if (parsed)
    value = static_cast<std::uint32_t>(*parsed);
  return parsed.has_value();
}

// "A:B" or "A:B:C" into numbers.
bool ParseTriple(const std::string& text, std::vector<std::uint32_t>& parts) {
  parts.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    std::uint32_t v = 0;
    if (!ParseWord(text.substr(start, colon - start), v))
      return false;
    parts.push_back(v);
    if (colon == std::string::npos)
      return true;
    start = colon + 1;
  }
}

// "drop=0.001,flip=1e-4,..." onto `rates` (kinds not named keep their value).
bool ParseChaos(const std::string& text, devsim::LineChaos& rates, std::string& error) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const std::size_t eq = item.find('=');
    const std::string kind = item.substr(0, eq);
    double* rate = kind == "drop"        ? &rates.drop
                   : kind == "flip"      ? &rates.flip
                   : kind == "duplicate" ? &rates.duplicate
                   : kind == "delay"     ? &rates.delay
                   : kind == "cut"       ? &rates.cut
                                         : nullptr;
    try {
      std::size_t used = 0;
      const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
      if (!rate || value.empty())
        throw std::invalid_argument(item);
      *rate = std::stod(value, &used);
      if (used != value.size() || !(*rate >= 0 && *rate <= 1))
        throw std::invalid_argument(item);
    } catch (const std::exception&) {
      error =
          "expected KIND=RATE[,KIND=RATE...] with KIND drop, flip, duplicate, delay or cut and "
          "RATE from 0 to 1, got " +
          text;
      return false;
    }
    start = comma + 1;
  }
  if (rates.drop + rates.flip + rates.duplicate + rates.delay + rates.cut > 1) {
    error = "the rates add up to more than 1: " + text;
    return false;
  }
  return true;
}

}  // namespace

void AddDeviceFlags(CLI::App& c, DeviceFlags& f) {
  c.add_option("--state", f.state, "Start in the bootloader or the running firmware")
      ->check(CLI::IsMember({"boot", "firmware"}))
      ->capture_default_str();
  c.add_option("--boot-version", f.bootVersion, "The bootloader's version word (0x01020304)");
  c.add_option("--fw-version", f.firmwareVersion, "The firmware's version text (1.2)");
  c.add_option("--frame-words", f.frameWords, "W, the largest frame in 32-bit words (64)");
  c.add_flag("--paced,!--no-pacing", f.paced,
             "Move bytes at 115200 bit/s like the real line (default) or as fast as the pty");
  c.add_option("--packet-bytes", f.packetBytes,
               "Paced: the device's bytes reach the host in packets of up to N bytes, each once "
               "its last byte is through, as a USB-serial adapter forwards them (64; 1: byte by "
               "byte)");
  c.add_option("--dboot", f.dboot, "How the firmware answers \"~dboot\"")
      ->check(CLI::IsMember({"ack", "silent", "refuse"}))
      ->capture_default_str();
  c.add_option("--restart-delay", f.restartDelayMs,
               "Milliseconds the device is silent while it restarts after \"~dboot\" (1000)");
  c.add_option("--refuse-frame", f.refuseFrame,
               "SEG:FRAME[:STATUS]: answer that data frame with STATUS (2)");
  c.add_option("--stall-frame", f.stallFrame, "SEG:FRAME: stop answering from that data frame");
  c.add_option("--readback", f.readBack, "How \"~du\" is answered")
      ->check(CLI::IsMember({"valid", "malformed", "silent"}))
      ->capture_default_str();
  c.add_option("--readback-fault-from", f.readBackFaultFrom,
               "The read-back fault starts at this \"~du\" command (0-based)");
  c.add_option("--corrupt", f.corrupt, "ADDR: change this byte after every download");
  c.add_flag("--no-boot-answer", f.noBootAnswer, "The bootloader ignores the version query");
  c.add_flag("--no-fw-answer", f.noFirmwareAnswer, "The firmware ignores \"~rv\"");
  c.add_option("--junk-answers", f.junkAnswers,
               "Version answers of another code sent before each right one");
  c.add_option("--capability", f.capability, "The capability frame of every segment")
      ->check(CLI::IsMember({"ok", "missing", "short", "too-long"}))
      ->capture_default_str();
  c.add_option("--memory", f.memoryFile, "FILE: the window's initial content (else 0xFF)")
      ->check(CLI::ExistingFile);
  c.add_flag("--flood-version", f.floodVersion,
             "Answer the version query with wrong 8-byte answers without end");
  c.add_flag("--flood-wait-phase", f.floodWaitPhase,
             "After a start command, frames of other codes without end (never ready)");
  c.add_option("--flood-interval", f.floodIntervalMs, "Milliseconds between a flood's frames (5)");
  c.add_option("--chaos", f.chaos,
               "KIND=RATE,...: a noisy line both ways; per-byte rates of drop, flip, duplicate, "
               "delay and cut (e.g. drop=1e-4,flip=1e-4)");
  c.add_option("--chaos-to-device", f.chaosToDevice, "KIND=RATE,...: noise from host to device");
  c.add_option("--chaos-to-host", f.chaosToHost, "KIND=RATE,...: noise from device to host");
  c.add_option("--chaos-seed", f.chaosSeed, "Seed of the noise: the same seed, the same noise (1)");
  c.add_option("--chaos-delay", f.chaosDelayMs, "Milliseconds a delayed burst is held back (100)");
  c.add_option("--chaos-cut-time", f.chaosCutMs,
               "Milliseconds a cut line stays cut; the host's port is hung up (300)");
}

bool MakeDeviceOptions(const DeviceFlags& f, devsim::DeviceOptions& o, std::string& error) {
  o.state =
      f.state == "firmware" ? devsim::DeviceState::kFirmware : devsim::DeviceState::kBootloader;
  if (!f.bootVersion.empty() && !ParseWord(f.bootVersion, o.bootVersion)) {
    error = "--boot-version: not a 32-bit number: " + f.bootVersion;
    return false;
  }
  if (!f.firmwareVersion.empty())
    o.firmwareVersion = f.firmwareVersion;
  if (f.frameWords != 0)
    o.frameWords = f.frameWords;
  o.paced = f.paced;
  if (f.packetBytes != 0)
    o.packetBytes = f.packetBytes;
  o.bootCommandReply = f.dboot == "silent"   ? devsim::BootCommandReply::kSilent
                       : f.dboot == "refuse" ? devsim::BootCommandReply::kRefuse
                                             : devsim::BootCommandReply::kAcknowledge;
  if (f.restartDelayMs >= 0)
    o.restartDelay = std::chrono::milliseconds(f.restartDelayMs);
  std::vector<std::uint32_t> parts;
  if (!f.refuseFrame.empty()) {
    if (!ParseTriple(f.refuseFrame, parts) || parts.size() < 2 || parts.size() > 3) {
      error = "--refuse-frame: expected SEG:FRAME[:STATUS], got " + f.refuseFrame;
      return false;
    }
    o.refuseSegment = static_cast<int>(parts[0]);
    o.refuseFrame = static_cast<int>(parts[1]);
    if (parts.size() == 3)
      o.refuseStatus = parts[2];
  }
  if (!f.stallFrame.empty()) {
    if (!ParseTriple(f.stallFrame, parts) || parts.size() != 2) {
      error = "--stall-frame: expected SEG:FRAME, got " + f.stallFrame;
      return false;
    }
    o.stallSegment = static_cast<int>(parts[0]);
    o.stallFrame = static_cast<int>(parts[1]);
  }
  o.readBackReply = f.readBack == "malformed" ? devsim::ReadBackReply::kMalformed
                    : f.readBack == "silent"  ? devsim::ReadBackReply::kSilent
                                              : devsim::ReadBackReply::kValid;
  o.readBackFaultFrom = f.readBackFaultFrom;
  if (!f.corrupt.empty()) {
    std::uint32_t address = 0;
    if (!ParseWord(f.corrupt, address)) {
      error = "--corrupt: not an address: " + f.corrupt;
      return false;
    }
    o.corruptAddress = address;
  }
  o.answerBootVersion = !f.noBootAnswer;
  o.answerFirmwareVersion = !f.noFirmwareAnswer;
  o.junkVersionAnswers = f.junkAnswers;
  o.capabilityFault = f.capability == "missing"    ? devsim::CapabilityFault::kMissing
                      : f.capability == "short"    ? devsim::CapabilityFault::kShort
                      : f.capability == "too-long" ? devsim::CapabilityFault::kTooLong
                                                   : devsim::CapabilityFault::kNone;
  o.floodWrongVersionAnswers = f.floodVersion;
  o.floodOtherFramesInWaitPhase = f.floodWaitPhase;
  if (f.floodIntervalMs >= 0)
    o.floodInterval = std::chrono::milliseconds(f.floodIntervalMs);
  o.chaosSeed = f.chaosSeed;
  struct Noise {
    const char* flag;
    const std::string& text;
    std::vector<devsim::LineChaos*> directions;
  };
  const Noise noise[] = {{"--chaos", f.chaos, {&o.toDevice, &o.toHost}},
                         {"--chaos-to-device", f.chaosToDevice, {&o.toDevice}},
                         {"--chaos-to-host", f.chaosToHost, {&o.toHost}}};
  for (const Noise& n : noise) {
    for (devsim::LineChaos* rates : n.directions) {
      if (!n.text.empty() && !ParseChaos(n.text, *rates, error)) {
        error = std::string(n.flag) + ": " + error;
        return false;
      }
    }
  }
  if (f.chaosDelayMs >= 0)
    o.chaosDelay = std::chrono::milliseconds(f.chaosDelayMs);
  if (f.chaosCutMs >= 0)
    o.chaosCutTime = std::chrono::milliseconds(f.chaosCutMs);
  if (!f.memoryFile.empty()) {
    std::ifstream in(f.memoryFile, std::ios::binary);
    o.initialMemory.assign(std::istreambuf_iterator<char>(in), {});
    if (o.initialMemory.size() > devsim::kWindowSize)
      o.initialMemory.resize(devsim::kWindowSize);
  }
  return true;
}

}  // namespace vantor::cli
