// The simulated device: the bootloader and the running firmware of the protocol, written as a state
// machine with no I/O. Bytes from the host go in with the time they were seen, bytes for the host
// come out when the clock says they may leave; every behaviour and fault the host must handle can
// be switched on through DeviceOptions.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantor::devsim {

using Clock = std::chrono::steady_clock;

// The memory window of the device.
inline constexpr std::uint32_t kWindowBase = 0x100000;
inline constexpr std::uint32_t kWindowSize = 0x40000;

enum class DeviceState { kBootloader, kFirmware };

// How the firmware answers "~dboot\r\n".
enum class BootCommandReply {
  kAcknowledge,  // "~Dboot\r\n", then restart into the bootloader
  kSilent,       // no reply, then restart into the bootloader
  kRefuse,       // "~Err\r\n", stays in the firmware
};

// How "~du" is answered.
enum class ReadBackReply {
  kValid,      // "~Du0000" + two hex digits per byte + CR LF
  kMalformed,  // a reply with a digit pair missing
  kSilent,     // nothing
};

// Faults of the segment wait phase.
enum class CapabilityFault {
  kNone,     // one capability frame of 16 bytes with W
  kMissing,  // no capability frame
  kShort,    // an 8-byte capability frame (no W in it)
  kTooLong,  // a 20-byte capability frame
};

// Noise on the line in one direction. Each rate is the probability, per byte, that this happens to
// it (at most one of them per byte; their sum stays at or below 1).
struct LineChaos {
  double drop = 0;       // the byte is lost
  double flip = 0;       // one bit of the byte is inverted
  double duplicate = 0;  // the byte arrives twice
  double delay = 0;      // the byte and everything after it are held back for `chaosDelay`
  double cut = 0;        // the line is cut here (see `chaosCutTime`)

  bool any() const { return drop > 0 || flip > 0 || duplicate > 0 || delay > 0 || cut > 0; }
};

// A span of time from `min` to `max`, both included.
struct TimeRange {
  std::chrono::microseconds min{0};
  std::chrono::microseconds max{0};
};

struct DeviceOptions {
  DeviceState state = DeviceState::kBootloader;
  std::uint32_t bootVersion = 0x01020304;
  std::string firmwareVersion = "1.2";  // the text after "~Rv0000"
  std::uint32_t frameWords = 64;        // W announced in the capability frame

  // Pacing: host bytes count as arrived only after their time on the wire, and the device's bytes
  // leave at the line's rate (10 bits per byte).
  bool paced = false;
  std::uint32_t bitsPerSecond = 115200;
  // With pacing, the host receives the device's bytes as a USB-serial adapter forwards them: up
  // to this many bytes of one device frame or text arrive together, once the last of them is
  // through (never early; a frame's last byte on time). 1: every byte as soon as it is through.
  std::uint32_t packetBytes = 64;
  // The device's turnaround: each frame or text it sends leaves no earlier than this long after
  // the host byte that caused it, drawn evenly from the range per reply (reproducible from
  // `chaosSeed`), as a device's firmware takes its time to act on a command. None by default.
  TimeRange turnaround{};

  // Firmware side.
  bool answerFirmwareVersion = true;
  BootCommandReply bootCommandReply = BootCommandReply::kAcknowledge;
  // After "~dboot": silent this long, then the bootloader answers.
  std::chrono::milliseconds restartDelay{1000};
  // Whether "~dboot" really restarts the device into its bootloader.
  bool bootCommandRestarts = true;
  // After answering a session's end frame, restart (silent for `restartDelay`) and come back
  // running the firmware, as a device boots the image it has just taken.
  bool bootFirmwareAfterDownload = false;

  // Bootloader side.
  bool answerBootVersion = true;
  // 8-byte answers of another code sent before each correct version answer.
  int junkVersionAnswers = 0;
  // Which states answer "~du" (the host sends it without asking).
  bool readBackInBootloader = true;
  bool readBackInFirmware = true;
  ReadBackReply readBackReply = ReadBackReply::kValid;
  bool readBackLowerCase = false;  // hex digits of "~Du0000" replies in lower case
  // With kMalformed or kSilent: the fault applies from this "~du" command on (0-based count of
  // "~du" commands since start), earlier ones are answered validly.
  int readBackFaultFrom = 0;

  // Download faults. Segment and frame indexes count from 0 within one session.
  CapabilityFault capabilityFault = CapabilityFault::kNone;
  // Capability frames announcing another W sent before the real one (the later one wins).
  int extraCapabilityFrames = 0;
  bool readyAsShortFrame = false;  // ready frame as an 8-byte '@' frame
  int otherFramesBeforeReady = 0;  // frames of other codes in the wait phase (ignored by the host)
  std::uint32_t readyStatus = 14;  // status of the reply after the ready frame
  // A data frame answered with `refuseStatus` instead of 0.
  int refuseSegment = -1;
  int refuseFrame = -1;
  std::uint32_t refuseStatus = 2;
  // The refusal above only in the first session that reaches that frame (a retry then passes).
  bool refuseOnce = false;
  // Stop answering entirely from the reply to this data frame on (a stalled device).
  int stallSegment = -1;
  int stallFrame = -1;
  // The reply to the end frame.
  std::uint32_t endStatus = 9;
  std::uint32_t endReference = 2;
  // Answer a data frame with a short '@' frame instead of a 16-byte status reply.
  bool shortStatusReply = false;
  // A data frame whose CRC does not match is refused with this status (and not written).
  std::uint32_t badCrcStatus = 5;
  // A data frame longer than 4 x W bytes is refused with this status (and not written).
  std::uint32_t oversizeStatus = 2;
  // After a download's end frame, change the byte at this address (memory differs from what was
  // sent, for verify tests).
  std::optional<std::uint32_t> corruptAddress{};

  // Floods: the host must bound its waits however much arrives. Each flood sends a frame every
  // `floodInterval` until the host sends anything else.
  // After a binary version query: wrong 8-byte answers (another code), never the right one.
  bool floodWrongVersionAnswers = false;
  // After a start command: frames of other codes, never the capability or ready frame.
  bool floodOtherFramesInWaitPhase = false;
  std::chrono::milliseconds floodInterval{5};

  // Chaos on the line, reproducible from `chaosSeed` (each direction has its own generator, so
  // the n-th byte in a direction meets the same fate whatever the timing).
  std::uint64_t chaosSeed = 1;
  LineChaos toDevice{};  // host to device
  LineChaos toHost{};    // device to host
  std::chrono::milliseconds chaosDelay{100};
  // A cut line: nothing passes either way for this long (bytes in flight are lost), and a
  // transport hangs up the host's port (TakeLineCut). The device itself keeps its state.
  std::chrono::milliseconds chaosCutTime{300};

  // Initial content of the window (0xFF when empty; shorter data fills from the base).
  std::vector<std::uint8_t> initialMemory{};
};

// What the device saw, for tests that check the wire.
struct DeviceEvent {
  enum class Kind {
    kVersionQuery,  // binary version query
    kOpenSession,   // argument = flags word
    kStartSegment,  // argument = the command's argument
    kDataFrame,     // address, lengthWords, flags, payload size, crcOk
    kEndFrame,
    kTextCommand,   // text = the line without CR LF
    kUnknownFrame,  // 8 bytes the device did not understand
  };
  Kind kind;
  std::uint32_t argument = 0;
  std::uint32_t address = 0;
  std::uint16_t lengthWords = 0;
  std::uint32_t flags = 0;
  std::uint32_t payloadBytes = 0;
  std::uint32_t frameBytes = 0;
  bool crcOk = true;
  std::string text;
};

class Device {
 public:
  explicit Device(DeviceOptions options = {});
  ~Device();
  Device(Device&&) noexcept;
  Device& operator=(Device&&) noexcept;

  // Bytes from the host, seen at `now`.
  void Receive(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // Bytes the device sends by `now` (all that are due; with pacing only those whose time came).
  std::vector<std::uint8_t> Transmit(Clock::time_point now);
  // When the device next has something to do (bytes to send, a restart); nullopt when idle.
  std::optional<Clock::time_point> NextWakeTime() const;
  // How many times chaos cut the line since the last call (a transport hangs up the host's port).
  int TakeLineCuts();

  DeviceState state() const;
  const DeviceOptions& options() const;
  DeviceOptions& options();  // change faults between exchanges

  // Memory: the window and anything written outside it.
  std::uint8_t ReadByte(std::uint32_t address) const;
  std::vector<std::uint8_t> ReadMemory(std::uint32_t address, std::size_t count) const;
  void WriteMemory(std::uint32_t address, std::span<const std::uint8_t> bytes);

  // The last download flags word received with the open-session command.
  std::optional<std::uint32_t> lastDownloadFlags() const;
  const std::vector<DeviceEvent>& events() const;
  void ClearEvents();
  // Every byte received from the host, in order, as the line delivered it (after any chaos).
  const std::vector<std::uint8_t>& received() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vantor::devsim
