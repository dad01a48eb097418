// The simulated device's state machine: input parsing (binary frames and text lines), the wait
// phase and data frames of a download, the text commands of the firmware and the bootloader, the
// memory, and the optional line pacing in both directions.
//
// Choices where the host does not care:
// - Unknown text lines: the firmware answers "~Err\r\n", the bootloader says nothing. A "~du" in a
//   state that does not answer it counts as unknown.
// - Device frames start with the byte 0xA5; status replies carry the code 0x3001.
// - A data frame's status reply carries the frame's address as its reference.
// - A data frame larger than the announced W is refused with `oversizeStatus` and not written.
// - A stalled device stays silent until the host opens a new session (or the device restarts).
// - Logs are bounded for long runs: the last 1 MiB of received bytes, the last 100000 events,
//   at most 4 MiB of memory outside the window (further pages are dropped), at most 1 MiB of
//   host bytes still on the wire, text lines of at most 300 bytes (a longer one is dropped up
//   to its LF).
// - Chaos acts where the bytes cross the line: host bytes as they are received, device bytes as
//   they leave. A flood stops at the first byte the host sends.
#include "devsim/device.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <random>
#include <utility>

#include "protocol/frames.h"

namespace vantor::devsim {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kReceivedKeep = 1 << 20;
constexpr std::size_t kEventsKeep = 100000;
constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kMaxOutsidePages = 1024;
constexpr std::size_t kMaxPendingInput = 1 << 20;
constexpr std::size_t kMaxLine = 300;
constexpr std::uint8_t kDeviceFrameMark = 0xA5;
constexpr std::uint16_t kFrameStatus = 0x3001;
constexpr std::uint16_t kFrameOther = 0x3005;
constexpr std::uint16_t kJunkVersionCode = 0x0010;

// The device's own CRC, bitwise, so that it checks the host's table-driven one independently.
std::uint32_t CrcBitwise(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= static_cast<std::uint32_t>(bytes[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  return crc;
}

// What chaos does to one byte on the line.
enum class Fate { kPass, kDrop, kDuplicate, kDelay, kCut };

// Appends `b` to `out` as a passed, dropped or duplicated byte; false for a delay or a cut, which
// the caller handles.
bool Deliver(Fate fate, std::uint8_t b, std::vector<std::uint8_t>& out) {
  switch (fate) {
    case Fate::kPass:
      out.push_back(b);
      return true;
    case Fate::kDrop:
      return true;
    case Fate::kDuplicate:
      out.insert(out.end(), 2, b);
      return true;
    case Fate::kDelay:
    case Fate::kCut:
      break;
  }
  return false;
}

// One direction of a noisy line: one draw per byte (and one more for the bit a flip inverts), so
// the n-th byte's fate depends only on the seed and the rates.
class NoisyLine {
 public:
  NoisyLine(std::uint64_t seed, std::uint64_t direction) {
    std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                      static_cast<std::uint32_t>(direction)};
    m_rng.seed(seq);
  }
  // The fate of `byte` (a flipped byte passes, changed).
  Fate Next(const LineChaos& rates, std::uint8_t& byte) {
    if (!rates.any())
      return Fate::kPass;
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(m_rng);
    double edge = rates.drop;
    if (u < edge)
      return Fate::kDrop;
    if (u < (edge += rates.flip)) {
      byte ^= static_cast<std::uint8_t>(1u << (m_rng() % 8));
      return Fate::kPass;
    }
    if (u < (edge += rates.duplicate))
      return Fate::kDuplicate;
    if (u < (edge += rates.delay))
      return Fate::kDelay;
    if (u < edge + rates.cut)
      return Fate::kCut;
    return Fate::kPass;
  }

 private:
  std::mt19937_64 m_rng;
};

// Bytes that take their time on the wire: byte k of a chunk is through at start + (k+1) byte times.
class WireQueue {
 public:
  void Push(std::vector<std::uint8_t> bytes, Clock::time_point ready, std::uint32_t bps,
            bool paced) {
    if (bytes.empty())
      return;
    Clock::time_point start = ready;
    // Never before the bytes queued ahead (a delayed burst holds back what follows it).
    if (!m_chunks.empty())
      start = std::max(start, EndOf(m_chunks.back(), bps, paced));
    if (paced && m_chunks.empty() && m_lastEnd > start)
      start = m_lastEnd;
    m_size += bytes.size();
    m_chunks.push_back({std::move(bytes), 0, start});
  }
  bool empty() const { return m_chunks.empty(); }
  std::size_t size() const { return m_size; }
  // When the next byte is through.
  Clock::time_point FrontDue(std::uint32_t bps, bool paced) const {
    const Chunk& c = m_chunks.front();
    return c.start + ByteTimes(c.used + 1, bps, paced);
  }
  // The bytes that arrive together next: up to `packet` bytes of the front chunk.
  std::size_t FrontPacket(std::uint32_t packet) const {
    const Chunk& c = m_chunks.front();
    return std::min<std::size_t>(std::max<std::uint32_t>(packet, 1), c.bytes.size() - c.used);
  }
  // When the n-th byte from the front (1-based) is through, or the last one if fewer are queued.
  Clock::time_point DueOf(std::size_t n, std::uint32_t bps, bool paced) const {
    for (const Chunk& c : m_chunks) {
      std::size_t left = c.bytes.size() - c.used;
      if (n <= left)
        return c.start + ByteTimes(c.used + n, bps, paced);
      n -= left;
    }
    return EndOf(m_chunks.back(), bps, paced);
  }
  std::uint8_t Pop(std::uint32_t bps, bool paced) {
    Chunk& c = m_chunks.front();
    std::uint8_t b = c.bytes[c.used++];
    --m_size;
    if (c.used == c.bytes.size()) {
      m_lastEnd = EndOf(c, bps, paced);
      m_chunks.pop_front();
    }
    return b;
  }
  void Clear() {
    m_chunks.clear();
    m_size = 0;
  }

 private:
  struct Chunk {
    std::vector<std::uint8_t> bytes;
    std::size_t used;
    Clock::time_point start;
  };
  static Clock::duration ByteTimes(std::size_t n, std::uint32_t bps, bool paced) {
    if (!paced || bps == 0)
      return Clock::duration::zero();
    // Rounded up, so a byte never counts as through before its time.
    const auto ns = (static_cast<std::uint64_t>(n) * 10'000'000'000ull + bps - 1) / bps;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
  }
  static Clock::time_point EndOf(const Chunk& c, std::uint32_t bps, bool paced) {
    return c.start + ByteTimes(c.bytes.size(), bps, paced);
  }
  std::deque<Chunk> m_chunks;
  std::size_t m_size = 0;
  Clock::time_point m_lastEnd{};
};

bool HexDigit(char c, std::uint32_t& value) {
  if (c >= '0' && c <= '9') {
    value = static_cast<std::uint32_t>(c - '0');
  } else if (c >= 'A' && c <= 'F') {
    value = static_cast<std::uint32_t>(c - 'A' + 10);
  } else if (c >= 'a' && c <= 'f') {
    value = static_cast<std::uint32_t>(c - 'a' + 10);
  } else {
    return false;
  }
  return true;
}

bool ParseHexField(const std::string& text, std::size_t at, std::size_t digits,
                   std::uint32_t& value) {
  value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    std::uint32_t d = 0;
    if (!HexDigit(text[at + i], d))
      return false;
    value = value * 16 + d;
  }
  return true;
}

}  // namespace

struct Device::Impl {
  DeviceOptions options;
  DeviceState state;

  std::vector<std::uint8_t> window;
  std::map<std::uint32_t, std::array<std::uint8_t, kPageSize>> outside;

  std::vector<DeviceEvent> events;
  std::vector<std::uint8_t> received;
  std::optional<std::uint32_t> downloadFlags;

  WireQueue input;
  WireQueue output;
  std::optional<Clock::time_point> restartAt;
  DeviceState restartInto = DeviceState::kBootloader;  // the state a restart ends in

  // Parser.
  enum class Parse { kIdle, kText, kDiscard, kBinary } parse = Parse::kIdle;
  std::string line;
  std::vector<std::uint8_t> frame;
  std::size_t frameNeed = protocol::kHeaderSize;

  // Download progress.
  int segment = -1;
  int frameIndex = 0;
  bool stalled = false;
  bool refusedOnce = false;  // a frame was refused (for refuseOnce)
  int readBackCount = 0;
  std::optional<std::uint8_t> corruptBase;

  // Floods.
  enum class Flood { kNone, kWrongVersion, kOtherFrames } flood = Flood::kNone;
  Clock::time_point floodNext{};
  int floodSent = 0;

  // Chaos.
  NoisyLine noiseToDevice;
  NoisyLine noiseToHost;
  std::optional<Clock::time_point> cutUntil;
  int cutsUntaken = 0;
  std::optional<Clock::time_point> heldUntil;  // device bytes held back by a delay
  std::vector<std::uint8_t> held;

  // Turnaround draws, one per reply.
  std::mt19937_64 turnaroundRng;

  explicit Impl(DeviceOptions o)
      : options(std::move(o)),
        state(options.state),
        noiseToDevice(options.chaosSeed, 1),
        noiseToHost(options.chaosSeed, 2) {
    std::seed_seq seq{static_cast<std::uint32_t>(options.chaosSeed),
                      static_cast<std::uint32_t>(options.chaosSeed >> 32), 3u};
    turnaroundRng.seed(seq);
    window.assign(kWindowSize, 0xFF);
    std::copy_n(options.initialMemory.begin(),
                std::min<std::size_t>(options.initialMemory.size(), kWindowSize), window.begin());
  }

  bool paced() const { return options.paced; }
  std::uint32_t packet() const { return options.packetBytes; }
  std::uint32_t bps() const { return options.bitsPerSecond; }

  static DeviceEvent Event(DeviceEvent::Kind kind) {
    DeviceEvent e{};
    e.kind = kind;
    return e;
  }

  void AddEvent(DeviceEvent e) {
    if (events.size() >= 2 * kEventsKeep) {
      events.erase(events.begin(), events.end() - static_cast<std::ptrdiff_t>(kEventsKeep));
    }
    events.push_back(std::move(e));
  }

  void Send(std::vector<std::uint8_t> bytes, Clock::time_point at) {
    if (stalled)
      return;
    output.Push(std::move(bytes), at + Turnaround(), bps(), paced());
  }
  Clock::duration Turnaround() {
    const std::int64_t low = std::max<std::int64_t>(options.turnaround.min.count(), 0);
    const std::int64_t high = options.turnaround.max.count();
    if (high <= low)
      return std::chrono::microseconds(low);
    return std::chrono::nanoseconds(
        std::uniform_int_distribution<std::int64_t>(low * 1000, high * 1000)(turnaroundRng));
  }
  void SendText(const std::string& text, Clock::time_point at) {
    Send(std::vector<std::uint8_t>(text.begin(), text.end()), at);
  }
  static std::vector<std::uint8_t> DeviceFrame(std::uint16_t code, std::uint16_t lengthWords) {
    std::vector<std::uint8_t> f(protocol::kHeaderSize + 4u * lengthWords, 0);
    f[0] = kDeviceFrameMark;
    protocol::PutU16(&f[2], code);
    protocol::PutU16(&f[4], lengthWords);
    return f;
  }
  static std::vector<std::uint8_t> StatusReply(std::uint32_t reference, std::uint32_t status) {
    auto f = DeviceFrame(kFrameStatus, 2);
    protocol::PutU32(&f[8], reference);
    protocol::PutU32(&f[12], status);
    return f;
  }
  static std::vector<std::uint8_t> WrongVersionAnswer() {
    std::vector<std::uint8_t> junk(protocol::kHeaderSize, 0);
    protocol::PutU16(&junk[2], kJunkVersionCode);
    protocol::PutU32(&junk[4], 0xDEADBEEF);
    return junk;
  }
  // Alternately a 16-byte and an 8-byte frame of another code.
  static std::vector<std::uint8_t> OtherFrame(int index) {
    return DeviceFrame(kFrameOther, index % 2 == 0 ? 2 : 0);
  }
  static std::vector<std::uint8_t> ShortFrame(std::uint16_t code) {
    std::vector<std::uint8_t> f(protocol::kHeaderSize, 0);
    f[0] = protocol::kShortFrameMark;
    protocol::PutU16(&f[2], code);
    protocol::PutU16(&f[4],
                     5);  // not used in a short frame; a host that reads it would wait for 20 bytes
    return f;
  }

  // Memory.
  std::uint8_t Read(std::uint32_t address) const {
    if (address - kWindowBase < kWindowSize)
      return window[address - kWindowBase];
    auto it = outside.find(address / kPageSize);
    return it == outside.end() ? 0xFF : it->second[address % kPageSize];
  }
  void Write(std::uint32_t address, std::uint8_t value) {
    if (address - kWindowBase < kWindowSize) {
      window[address - kWindowBase] = value;
      return;
    }
    auto it = outside.find(address / kPageSize);
    if (it == outside.end()) {
      if (outside.size() >= kMaxOutsidePages)
        return;
      std::array<std::uint8_t, kPageSize> page;
      page.fill(0xFF);
      it = outside.emplace(address / kPageSize, page).first;
    }
    it->second[address % kPageSize] = value;
  }

  // Time goes on to `now`: restarts complete and host bytes that are through are parsed.
  void Advance(Clock::time_point now) {
    for (;;) {
      const bool haveInput = !input.empty() && input.FrontDue(bps(), paced()) <= now;
      if (restartAt && *restartAt <= now &&
          (!haveInput || *restartAt <= input.FrontDue(bps(), paced()))) {
        FinishRestart();
        continue;
      }
      if (!haveInput)
        break;
      const Clock::time_point at = input.FrontDue(bps(), paced());
      const std::uint8_t b = input.Pop(bps(), paced());
      RunFlood(at);
      flood = Flood::kNone;
      if (!restartAt)
        Feed(b, at);  // a restarting device hears nothing
    }
    RunFlood(now);
  }

  void StartFlood(Flood kind, Clock::time_point at) {
    flood = kind;
    floodNext = at;
    floodSent = 0;
  }
  // The flood's frames that are due by `until`.
  void RunFlood(Clock::time_point until) {
    const Clock::duration step = std::max<Clock::duration>(options.floodInterval, 1ms);
    while (flood != Flood::kNone && floodNext <= until) {
      Send(flood == Flood::kWrongVersion ? WrongVersionAnswer() : OtherFrame(floodSent), floodNext);
      ++floodSent;
      floodNext += step;
    }
  }

  // Whether the line is cut at `now` (a cut that has ended is forgotten).
  bool LineCut(Clock::time_point now) {
    if (cutUntil && now >= *cutUntil)
      cutUntil.reset();
    return cutUntil.has_value();
  }
  // Cuts the line: what is on the wire either way is lost.
  void Cut(Clock::time_point now) {
    cutUntil = now + options.chaosCutTime;
    ++cutsUntaken;
    input.Clear();
    output.Clear();
    held.clear();
    heldUntil.reset();
  }

  // Host bytes through the noisy line into the input queue.
  void ReceiveNoisy(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (LineCut(now))
      return;
    std::vector<std::uint8_t> pass;
    pass.reserve(bytes.size());
    Clock::time_point ready = now;
    for (std::uint8_t b : bytes) {
      const Fate fate = noiseToDevice.Next(options.toDevice, b);
      if (Deliver(fate, b, pass))
        continue;
      if (fate == Fate::kCut) {
        Cut(now);
        return;
      }
      QueueInput(std::move(pass), ready);  // a delay: this byte and the rest come later
      pass.assign(1, b);
      ready = now + options.chaosDelay;
    }
    QueueInput(std::move(pass), ready);
  }
  void QueueInput(std::vector<std::uint8_t> bytes, Clock::time_point ready) {
    // A line that is flooded faster than it runs loses what does not fit (an overrun).
    const std::size_t room = kMaxPendingInput - std::min(kMaxPendingInput, input.size());
    if (bytes.size() > room)
      bytes.resize(room);
    received.insert(received.end(), bytes.begin(), bytes.end());
    if (received.size() > 2 * kReceivedKeep) {
      received.erase(received.begin(), received.end() - static_cast<std::ptrdiff_t>(kReceivedKeep));
    }
    input.Push(std::move(bytes), ready, bps(), paced());
  }

  // Device bytes due by `now`, through the noisy line.
  std::vector<std::uint8_t> TransmitNoisy(Clock::time_point now) {
    std::vector<std::uint8_t> out;
    if (heldUntil) {
      if (now < *heldUntil)
        return out;
      heldUntil.reset();
      out = std::move(held);
      held.clear();
    }
    std::size_t packetLeft = 0;  // bytes of a packet that is through and still being handed over
    while (!output.empty() &&
           (packetLeft > 0 || output.DueOf(output.FrontPacket(packet()), bps(), paced()) <= now)) {
      if (packetLeft == 0)
        packetLeft = output.FrontPacket(packet());
      --packetLeft;
      std::uint8_t b = output.Pop(bps(), paced());
      if (LineCut(now))
        continue;
      const Fate fate = noiseToHost.Next(options.toHost, b);
      if (Deliver(fate, b, out))
        continue;
      if (fate == Fate::kCut) {
        Cut(now);
        return out;
      }
      held.assign(1, b);  // a delay: this byte and what follows wait
      heldUntil = now + options.chaosDelay;
      return out;
    }
    return out;
  }

  void FinishRestart() {
    restartAt.reset();
    flood = Flood::kNone;
    state = std::exchange(restartInto, DeviceState::kBootloader);
    ResetParser();
    stalled = false;
    segment = -1;
    frameIndex = 0;
  }

  void ResetParser() {
    parse = Parse::kIdle;
    line.clear();
    frame.clear();
    frameNeed = protocol::kHeaderSize;
  }

  // Bytes the parser still needs before anything can happen.
  std::size_t BytesNeeded() const {
    if (parse == Parse::kBinary)
      return frameNeed - frame.size();
    return 1;
  }

  void Feed(std::uint8_t b, Clock::time_point at) {
    switch (parse) {
      case Parse::kIdle:
        if (b == '~') {
          parse = Parse::kText;
          line.assign(1, '~');
        } else if (state == DeviceState::kBootloader) {
          parse = Parse::kBinary;
          frame.assign(1, b);
          frameNeed = protocol::kHeaderSize;
        }
        return;
      case Parse::kText:
        if (b == '~') {  // a new command starts: what came before was no line
          line.assign(1, '~');
          return;
        }
        line.push_back(static_cast<char>(b));
        if (line.size() >= 2 && line[line.size() - 2] == '\r' && b == '\n') {
          line.resize(line.size() - 2);
          std::string text = std::move(line);
          ResetParser();
          OnTextLine(text, at);
        } else if (line.size() > kMaxLine) {
          line.clear();
          parse = Parse::kDiscard;
        }
        return;
      case Parse::kDiscard:  // the rest of an overlong line, up to its LF or the next '~'
        if (b == '~') {
          parse = Parse::kText;
          line.assign(1, '~');
        } else if (b == '\n') {
          parse = Parse::kIdle;
        }
        return;
      case Parse::kBinary:
        frame.push_back(b);
        if (frame.size() == protocol::kHeaderSize &&
            protocol::GetU16(&frame[0]) == protocol::kBootFrameMagic) {
          frameNeed = protocol::kHeaderSize + 4u * protocol::GetU16(&frame[4]);
        }
        if (frame.size() < frameNeed)
          return;
        {
          std::vector<std::uint8_t> f = std::move(frame);
          ResetParser();
          OnFrame(f, at);
        }
        return;
    }
  }

  void OnFrame(const std::vector<std::uint8_t>& f, Clock::time_point at) {
    if (protocol::GetU16(&f[0]) == protocol::kBootFrameMagic) {
      const std::uint16_t code = protocol::GetU16(&f[2]);
      if (code == protocol::kBootFrameData)
        return OnDataFrame(f, at);
      if (code == protocol::kBootFrameEnd)
        return OnEndFrame(f, at);
    } else {
      const std::uint16_t kind = protocol::GetU16(&f[0]);
      const std::uint16_t code = protocol::GetU16(&f[2]);
      const std::uint32_t argument = protocol::GetU32(&f[4]);
      if (kind == protocol::kKindVersionQuery && code == protocol::CMD_GET_VERSION)
        return OnVersionQuery(at);
      if (kind == protocol::kKindCommand && code == protocol::CMD_OPEN_SESSION) {
        DeviceEvent e = Event(DeviceEvent::Kind::kOpenSession);
        e.argument = argument;
        AddEvent(std::move(e));
        downloadFlags = argument;
        segment = -1;
        frameIndex = 0;
        stalled = false;
        return;
      }
      if (kind == protocol::kKindCommand && code == protocol::CMD_START_SEGMENT)
        return OnStartSegment(argument, at);
    }
    DeviceEvent e = Event(DeviceEvent::Kind::kUnknownFrame);
    e.argument = protocol::GetU32(&f[4]);
    e.frameBytes = static_cast<std::uint32_t>(f.size());
    AddEvent(std::move(e));
  }

  void OnVersionQuery(Clock::time_point at) {
    AddEvent(Event(DeviceEvent::Kind::kVersionQuery));
    if (!options.answerBootVersion)
      return;
    if (options.floodWrongVersionAnswers)
      return StartFlood(Flood::kWrongVersion, at);
    for (int i = 0; i < options.junkVersionAnswers; ++i)
      Send(WrongVersionAnswer(), at);
    std::vector<std::uint8_t> answer(protocol::kHeaderSize, 0);
    protocol::PutU16(&answer[0], protocol::kKindVersionQuery);
    protocol::PutU16(&answer[2], protocol::CMD_GET_VERSION);
    protocol::PutU32(&answer[4], options.bootVersion);
    Send(std::move(answer), at);
  }

  std::vector<std::uint8_t> CapabilityFrame(std::uint32_t words) const {
    std::vector<std::uint8_t> f = DeviceFrame(protocol::kFrameCapability, 2);
    protocol::PutU32(&f[8], words);
    return f;
  }

  void OnStartSegment(std::uint32_t argument, Clock::time_point at) {
    DeviceEvent e = Event(DeviceEvent::Kind::kStartSegment);
    e.argument = argument;
    AddEvent(std::move(e));
    ++segment;
    frameIndex = 0;
    for (int i = 0; i < options.extraCapabilityFrames; ++i) {
      Send(CapabilityFrame(options.frameWords * 2 + static_cast<std::uint32_t>(i)), at);
    }
    if (options.floodOtherFramesInWaitPhase)
      return StartFlood(Flood::kOtherFrames, at);
    for (int i = 0; i < options.otherFramesBeforeReady; ++i)
      Send(OtherFrame(i), at);
    switch (options.capabilityFault) {
      case CapabilityFault::kNone:
        Send(CapabilityFrame(options.frameWords), at);
        break;
      case CapabilityFault::kMissing:
        break;
      case CapabilityFault::kShort:
        Send(DeviceFrame(protocol::kFrameCapability, 0), at);
        break;
      case CapabilityFault::kTooLong: {
        auto f = DeviceFrame(protocol::kFrameCapability, 3);
        protocol::PutU32(&f[8], options.frameWords);
        Send(std::move(f), at);
        break;
      }
    }
    Send(options.readyAsShortFrame ? ShortFrame(protocol::kFrameReady)
                                   : DeviceFrame(protocol::kFrameReady, 0),
         at);
    Send(StatusReply(0, options.readyStatus), at);
  }

  void OnDataFrame(const std::vector<std::uint8_t>& f, Clock::time_point at) {
    const std::uint16_t lengthWords = protocol::GetU16(&f[4]);
    DeviceEvent e = Event(DeviceEvent::Kind::kDataFrame);
    e.lengthWords = lengthWords;
    e.frameBytes = static_cast<std::uint32_t>(f.size());
    const int thisFrame = frameIndex++;
    std::size_t len = 0;
    bool ok = lengthWords >= 3;
    if (ok) {
      e.address = protocol::GetU32(&f[8]);
      e.flags = protocol::GetU32(&f[16]);
      const std::size_t pad = (e.flags >> 1) & 3;
      const std::size_t body = 4u * lengthWords - 12;
      ok = pad <= body;
      if (ok)
        len = body - pad;
    }
    if (ok) {
      std::uint32_t crc = CrcBitwise(0, f.data(), 12);
      crc = CrcBitwise(crc, f.data() + 16, 4 + len);
      ok = crc == protocol::GetU32(&f[12]);
    }
    e.payloadBytes = static_cast<std::uint32_t>(len);
    e.crcOk = ok;
    AddEvent(e);
    if (stalled)
      return;
    const std::uint32_t reference = e.address;
    if (!ok)
      return Send(StatusReply(reference, options.badCrcStatus), at);
    if (f.size() > 4u * options.frameWords) {
      return Send(StatusReply(reference, options.oversizeStatus), at);
    }
    if (segment == options.stallSegment && thisFrame == options.stallFrame) {
      stalled = true;
      return;
    }
    if (segment == options.refuseSegment && thisFrame == options.refuseFrame &&
        !(options.refuseOnce && refusedOnce)) {
      refusedOnce = true;
      return Send(StatusReply(reference, options.refuseStatus), at);
    }
    for (std::size_t i = 0; i < len; ++i) {
      const std::uint32_t address = e.address + static_cast<std::uint32_t>(i);
      Write(address, f[protocol::kPayloadOffset + i]);
      if (options.corruptAddress && address == *options.corruptAddress)
        corruptBase = f[20 + i];
    }
    Send(options.shortStatusReply ? ShortFrame(kFrameStatus)
                                  : StatusReply(reference, protocol::STATUS_OK),
         at);
  }

  void OnEndFrame(const std::vector<std::uint8_t>& f, Clock::time_point at) {
    DeviceEvent e = Event(DeviceEvent::Kind::kEndFrame);
    e.lengthWords = protocol::GetU16(&f[4]);
    e.frameBytes = static_cast<std::uint32_t>(f.size());
    AddEvent(std::move(e));
    if (stalled)
      return;
    Send(StatusReply(options.endReference, options.endStatus), at);
    if (options.bootFirmwareAfterDownload) {
      restartAt = at + options.restartDelay;
      restartInto = DeviceState::kFirmware;
    }
    if (options.corruptAddress) {
      // Always the byte as the host last wrote it, inverted: several end frames agree.
      const std::uint32_t address = *options.corruptAddress;
      if (!corruptBase)
        corruptBase = Read(address);
      Write(address, static_cast<std::uint8_t>(*corruptBase ^ 0xFF));
    }
  }

  void OnTextLine(const std::string& text, Clock::time_point at) {
    DeviceEvent e = Event(DeviceEvent::Kind::kTextCommand);
    e.text = text;
    AddEvent(std::move(e));
    if (stalled)
      return;
    const bool firmware = state == DeviceState::kFirmware;
    if (text.rfind("~du", 0) == 0 &&
        (firmware ? options.readBackInFirmware : options.readBackInBootloader)) {
      return OnReadBack(text, at);
    }
    if (!firmware)
      return;  // the bootloader ignores text it does not know
    if (text == "~rv") {
      if (options.answerFirmwareVersion)
        SendText("~Rv0000" + options.firmwareVersion + "\r\n", at);
      return;
    }
    if (text == "~dboot") {
      switch (options.bootCommandReply) {
        case BootCommandReply::kAcknowledge:
          SendText("~Dboot\r\n", at);
          break;
        case BootCommandReply::kSilent:
          break;
        case BootCommandReply::kRefuse:
          SendText("~Err\r\n", at);
          return;
      }
      if (options.bootCommandRestarts)
        restartAt = at + options.restartDelay;
      return;
    }
    SendText("~Err\r\n", at);
  }

  void OnReadBack(const std::string& text, Clock::time_point at) {
    std::uint32_t address = 0;
    std::uint32_t count = 0;
    // "~du" + 8 hex digits + ',' + 2 hex digits.
    if (text.size() != 14 || text[11] != ',' || !ParseHexField(text, 3, 8, address) ||
        !ParseHexField(text, 12, 2, count) || count > 64) {
      return SendText("~Err\r\n", at);
    }
    const int index = readBackCount++;
    ReadBackReply reply = ReadBackReply::kValid;
    if (index >= options.readBackFaultFrom)
      reply = options.readBackReply;
    if (reply == ReadBackReply::kSilent)
      return;
    std::string answer = "~Du0000";
    const char* format = options.readBackLowerCase ? "%02x" : "%02X";
    std::uint32_t pairs = count;
    if (reply == ReadBackReply::kMalformed && pairs > 0)
      --pairs;  // the last pair is missing
    for (std::uint32_t i = 0; i < pairs; ++i) {
      char digits[3];
      std::snprintf(digits, sizeof digits, format, Read(address + i));
      answer += digits;
    }
    SendText(answer + "\r\n", at);
  }
};

Device::Device(DeviceOptions options) : m_impl(std::make_unique<Impl>(std::move(options))) {}
Device::~Device() = default;
Device::Device(Device&&) noexcept = default;
Device& Device::operator=(Device&&) noexcept = default;

void Device::Receive(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  Impl& d = *m_impl;
  d.Advance(now);
  d.ReceiveNoisy(bytes, now);
  d.Advance(now);
}

std::vector<std::uint8_t> Device::Transmit(Clock::time_point now) {
  Impl& d = *m_impl;
  d.Advance(now);
  return d.TransmitNoisy(now);
}

std::optional<Clock::time_point> Device::NextWakeTime() const {
  const Impl& d = *m_impl;
  std::optional<Clock::time_point> next = d.restartAt;
  auto consider = [&next](Clock::time_point t) {
    if (!next || t < *next)
      next = t;
  };
  if (d.heldUntil)
    consider(*d.heldUntil);
  else if (!d.output.empty())
    consider(d.output.DueOf(d.output.FrontPacket(d.packet()), d.bps(), d.paced()));
  if (d.flood != Impl::Flood::kNone)
    consider(d.floodNext);
  if (!d.input.empty()) {
    // Nothing happens before the parser has what it needs; during a restart bytes are dropped.
    const std::size_t need = d.restartAt ? 1 : d.BytesNeeded();
    if (need <= d.input.size())
      consider(d.input.DueOf(need, d.bps(), d.paced()));
  }
  return next;
}

int Device::TakeLineCuts() {
  return std::exchange(m_impl->cutsUntaken, 0);
}

DeviceState Device::state() const {
  return m_impl->state;
}
const DeviceOptions& Device::options() const {
  return m_impl->options;
}
DeviceOptions& Device::options() {
  return m_impl->options;
}

std::uint8_t Device::ReadByte(std::uint32_t address) const {
  return m_impl->Read(address);
}

std::vector<std::uint8_t> Device::ReadMemory(std::uint32_t address, std::size_t count) const {
  std::vector<std::uint8_t> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = m_impl->Read(address + static_cast<std::uint32_t>(i));
  }
  return out;
}

void Device::WriteMemory(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    m_impl->Write(address + static_cast<std::uint32_t>(i), bytes[i]);
  }
}

std::optional<std::uint32_t> Device::lastDownloadFlags() const {
  return m_impl->downloadFlags;
}
const std::vector<DeviceEvent>& Device::events() const {
  return m_impl->events;
}
void Device::ClearEvents() {
  m_impl->events.clear();
}
const std::vector<std::uint8_t>& Device::received() const {
  return m_impl->received;
}

}  // namespace vantor::devsim
