// Text commands and their replies, the binary version query, and the memory read-back.
//
// A failed read counts as no bytes. A port whose wait for input fails (the device is gone) ends
// the exchange at once as a time-out (-1), the result a port that stopped working gives anyway,
// instead of letting the loop run on until its deadline. A cancelled wait ends it with
// kErrorCancelled. Every exchange ends at its deadline however many bytes keep arriving.
#include "protocol/text_commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace vantor::protocol {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kTimedOut = -1;

// One non-waiting read; a failed read gives no bytes.
std::uint32_t ReadNow(BootLink& link, std::uint8_t* into, std::uint32_t count) {
  if (link.port->Read(into, count) != 0)
    return 0;
  return count;
}

// Blocks until input or the deadline. 0, kErrorCancelled, or kTimedOut when the port can no
// longer deliver input.
std::int32_t WaitForInput(BootLink& link, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  const std::int32_t r = link.port->WaitReadable(std::max(left, std::chrono::milliseconds(0)));
  if (r == 0 || r == serial::kErrorCancelled)
    return r;
  return kTimedOut;
}

bool Cancelled(const BootLink& link) {
  return link.port->cancel != nullptr && link.port->cancel->cancelled();
}

std::int32_t WriteAll(BootLink& link, const void* bytes, std::size_t count) {
  std::int32_t sent = static_cast<std::int32_t>(count);
  return SendBuffer(link, static_cast<const std::uint8_t*>(bytes), sent);
}

bool EndsWithCrLf(const char* bytes, std::size_t count) {
  return count >= 2 && bytes[count - 2] == '\r' && bytes[count - 1] == '\n';
}

constexpr std::string_view kReadBackPrefix = "~Du0000";

// A "~du" reply for n bytes: the prefix, exactly 2n hex digits, CR LF.
bool IsValidReadBackReply(std::string_view reply, std::int32_t n) {
  const std::size_t digits = 2 * static_cast<std::size_t>(n);
  if (reply.size() != kReadBackPrefix.size() + digits + 2)
    return false;
  if (!reply.starts_with(kReadBackPrefix) || !reply.ends_with("\r\n"))
    return false;
  return std::all_of(reply.begin() + kReadBackPrefix.size(), reply.end() - 2,
                     [](char c) { return HexDigit(c) >= 0; });
}

}  // namespace

std::int32_t QueryBootVersion(BootLink& link, std::uint32_t& version) {
  const auto query = CommandFrame{kKindVersionQuery, CMD_GET_VERSION, 0}.Encode();
  const std::int32_t written = WriteAll(link, query.data(), query.size());
  if (written != 0)
    return written;
  const auto deadline = Clock::now() + kVersionQueryTimeout;

  std::array<std::uint8_t, kHeaderSize> answer{};
  std::uint32_t have = 0;
  for (;;) {
    const std::uint32_t got = ReadNow(link, answer.data() + have, kHeaderSize - have);
    have += got;
    if (have == kHeaderSize) {
      const CommandFrame frame = CommandFrame::Decode(answer.data());
      if (frame.kind == kKindVersionQuery && frame.code == CMD_GET_VERSION) {
        version = frame.argument;
        return 0;
      }
      have = 0;  // another answer: drop it and collect the next 8 bytes
    }
    // Checked after every read: a line full of wrong answers cannot hold the query open.
    if (Cancelled(link))
      return serial::kErrorCancelled;
    if (Clock::now() >= deadline)
      return kTimedOut;
    if (got == 0) {
      if (const std::int32_t w = WaitForInput(link, deadline); w != 0)
        return w;
    }
  }
}

std::int32_t TextExchange(BootLink& link, const std::uint8_t* command, std::uint32_t commandLength,
                          char* reply, std::int32_t& room) {
  const std::int32_t roomGiven = room;
  room = 0;
  const std::int32_t written = WriteAll(link, command, commandLength);
  if (written != 0)
    return written;
  const auto deadline = Clock::now() + kTextExchangeTimeout;
  if (roomGiven <= 0)
    return 0;

  std::int32_t have = 0;
  for (;;) {
    // One byte per read: the CR LF is seen as soon as it arrives and nothing after it is taken.
    const std::uint32_t got = ReadNow(link, reinterpret_cast<std::uint8_t*>(reply) + have, 1);
    have += static_cast<std::int32_t>(got);
    reply[have] = '\0';
    if (EndsWithCrLf(reply, static_cast<std::size_t>(have))) {
      room = have;
      return 0;
    }
    if (Clock::now() > deadline)
      return kTimedOut;
    if (have >= roomGiven) {
      room = roomGiven;
      return 0;
    }
    if (Cancelled(link))
      return serial::kErrorCancelled;
    if (got == 0) {
      if (const std::int32_t w = WaitForInput(link, deadline); w != 0)
        return w;
    }
  }
}

const char* QueryFirmwareVersion(BootLink& link, TextReplies& replies) {
  static constexpr char kCommand[] = "~rv\r\n";
  static constexpr std::string_view kAccepted = "~Rv0000";
  std::int32_t room = static_cast<std::int32_t>(kReplyRoom);
  const std::int32_t r = TextExchange(link, reinterpret_cast<const std::uint8_t*>(kCommand),
                                      sizeof kCommand - 1, replies.versionReply, room);
  if (r != 0 || room < 8)
    return nullptr;
  if (std::memcmp(replies.versionReply, kAccepted.data(), kAccepted.size()) != 0)
    return nullptr;
  return replies.versionReply + kAccepted.size();
}

BootModeOutcome RequestBootMode(BootLink& link, TextReplies& replies) {
  static constexpr char kCommand[] = "~dboot\r\n";
  static constexpr std::string_view kAccepted = "~Dboot";
  std::int32_t room = static_cast<std::int32_t>(kReplyRoom);
  const std::int32_t r = TextExchange(link, reinterpret_cast<const std::uint8_t*>(kCommand),
                                      sizeof kCommand - 1, replies.bootReply, room);
  if (r != 0)
    return BootModeOutcome::kSilent;
  if (room >= 6 && std::memcmp(replies.bootReply, kAccepted.data(), kAccepted.size()) == 0) {
    return BootModeOutcome::kAcknowledged;
  }
  return BootModeOutcome::kRefused;
}

std::int32_t TextExchangeWide(BootLink& link, std::string_view command, std::string& reply,
                              std::size_t expected) {
  const std::int32_t written = WriteAll(link, command.data(), command.size());
  if (written != 0)
    return written;
  const auto deadline = Clock::now() + kWideExchangeTimeout;

  std::array<char, kWideReplyRoom + 1> buffer{};
  std::size_t have = 0;
  bool rested = false;  // slept once for the rest of the reply
  for (;;) {
    const std::uint32_t got = ReadNow(link, reinterpret_cast<std::uint8_t*>(buffer.data()) + have,
                                      static_cast<std::uint32_t>(kWideReplyRoom - have));
    // The reply ends at its first CR LF, also when more bytes came in the same read.
    const std::size_t from = have == 0 ? 0 : have - 1;
    have += got;
    buffer[have] = '\0';
    const std::string_view received(buffer.data(), have);
    const std::size_t crlf = received.find("\r\n", from);
    if (crlf != std::string_view::npos) {
      reply.assign(buffer.data(), std::min(crlf + 2, std::strlen(buffer.data())));
      return 0;
    }
    if (Clock::now() > deadline)
      return kTimedOut;
    if (have >= kWideReplyRoom) {
      reply.assign(buffer.data());  // up to its first zero byte
      return 0;
    }
    if (Cancelled(link))
      return serial::kErrorCancelled;
    if (got == 0) {
      if (const std::int32_t w = WaitForInput(link, deadline); w != 0)
        return w;
      continue;
    }
    // A reply of known length is gathered while it is on the wire, not woken for byte by byte.
    const std::size_t due = std::min(expected, kWideReplyRoom);
    if (due > have) {
      if (const std::int32_t w = link.port->WaitForRest(static_cast<std::uint32_t>(due - have),
                                                        rested, deadline, serial::kBulkRestMargin);
          w != 0)
        return w == serial::kErrorCancelled ? w : kTimedOut;
      rested = true;
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

std::uint32_t ParseHex(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text)
    value = value * 16 + static_cast<std::uint32_t>(std::max(HexDigit(c), 0));
  return value;
}

std::int32_t ReadBackSegments(TransferContext& context, SegmentList& segments,
                              ProgressCallback progress, void* userData, ReadBackReport& report) {
  context.progress = progress;
  context.userData = userData;
  context.totalBytes = segments.TotalBytes();
  context.doneBytes = 0;
  report = ReadBackReport{};

  for (Segment& segment : segments) {
    report.blocks.push_back(segment.address);
    const std::int32_t length = std::max(segment.length, 0);
    // Nothing of an earlier content survives a piece that is not read.
    segment.data.assign(static_cast<std::size_t>(length), 0);

    for (std::int32_t offset = 0; offset < length;) {
      const std::int32_t n = std::min(length - offset, kReadBackPiece);
      char command[32];
      std::snprintf(command, sizeof command, "~du%08X,%02X\r\n",
                    segment.address + static_cast<std::uint32_t>(offset), static_cast<unsigned>(n));
      std::string reply;
      std::int32_t r =
          TextExchangeWide(context.link, command, reply,
                           kReadBackPrefix.size() + 2 * static_cast<std::size_t>(n) + 2);
      if (r == 0 && !IsValidReadBackReply(reply, n))
        r = kReadBackMalformed;
      if (r != 0) {
        if (report.result == 0)
          report.result = r;
        report.unreadSegments.push_back(segment.address);
        break;  // the rest of this segment is abandoned; the next segment is still read
      }
      const std::string_view digits = std::string_view(reply).substr(kReadBackPrefix.size());
      for (std::int32_t i = 0; i < n; ++i) {
        segment.data[static_cast<std::size_t>(offset + i)] =
            static_cast<std::uint8_t>(ParseHex(digits.substr(2 * static_cast<std::size_t>(i), 2)));
      }
      context.doneBytes += n;
      ReportProgress(context);
      offset += n;
    }
  }
  return report.result;
}

}  // namespace vantor::protocol
