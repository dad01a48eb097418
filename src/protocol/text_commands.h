// The text command channel ("~" ... CR LF), the binary version query, the bootloader entry and the
// memory read-back ("~du" in pieces of at most 64 bytes). Text on the line is 8-bit; these
// functions take and give the line's bytes in std::string (the programs convert for display).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/download.h"
#include "protocol/segments.h"

namespace vantor::protocol {

inline constexpr std::chrono::milliseconds kVersionQueryTimeout{3000};
inline constexpr std::chrono::milliseconds kTextExchangeTimeout{3000};
inline constexpr std::chrono::milliseconds kWideExchangeTimeout{5000};
inline constexpr std::size_t kReplyRoom = 200;      // the two reply buffers below
inline constexpr std::size_t kWideReplyRoom = 250;  // TextExchangeWide's reply
inline constexpr std::int32_t kReadBackPiece = 64;  // bytes per "~du" command

// The reply buffers of "~rv" and "~dboot" (200 bytes plus a terminating zero each), owned by
// whoever runs the session on one port; after an exchange they hold its reply as received.
struct TextReplies {
  char versionReply[kReplyRoom + 1] = {};
  char bootReply[kReplyRoom + 1] = {};
};

// Sends the binary version query (kind 0, code 15) and waits up to 3000 ms for an 8-byte answer
// of kind 0 code 15, skipping other 8-byte answers. 0 with `version` set, -1 on time-out, or the
// system error code of a failed write.
std::int32_t QueryBootVersion(BootLink& link, std::uint32_t& version);

// Writes `command`, then reads the reply one byte per read into `reply` (room + 1 bytes, kept
// zero-terminated) until CR LF ends it, `room` bytes are in, or 3000 ms pass (-1). `room` is the
// room on entry and the reply length on return (0 unless the result is 0).
std::int32_t TextExchange(BootLink& link, const std::uint8_t* command, std::uint32_t commandLength,
                          char* reply, std::int32_t& room);

// "~rv\r\n": the text after "~Rv0000" (closing CR LF included), pointing into
// `replies.versionReply`, or null for no valid answer.
const char* QueryFirmwareVersion(BootLink& link, TextReplies& replies);

enum class BootModeOutcome { kAcknowledged, kSilent, kRefused };
// "~dboot\r\n": acknowledged ("~Dboot..." reply), silent (no complete reply or a failed write),
// or refused (another complete reply). The reply is left in `replies.bootReply`.
BootModeOutcome RequestBootMode(BootLink& link, TextReplies& replies);

// Writes `command` and collects the reply (up to 250 bytes, several bytes per read) until it ends
// in CR LF, 250 bytes are in, or 5000 ms pass (-1). The reply ends at its first CR LF even when
// more bytes came in the same read. `expected`, when known, is the complete reply's length: once
// the reply has begun, the wait sleeps until the rest can have arrived instead of waking for
// every byte. 0, -1 or the system error code of a failed write.
std::int32_t TextExchangeWide(BootLink& link, std::string_view command, std::string& reply,
                              std::size_t expected = 0);

// The value of one hex digit (either case), -1 for any other character.
int HexDigit(char c);

// Hex digits to a value; other characters count as 0.
std::uint32_t ParseHex(std::string_view text);

// The read-back's result for a malformed reply (not "~Du0000", not exactly two hex digits per
// requested byte, or not ending in CR LF).
inline constexpr std::int32_t kReadBackMalformed = -2;

// What the read-back did: the facts the device layer builds the programs' box text from.
struct ReadBackReport {
  std::int32_t result = 0;            // 0, or the first failure's code
  std::vector<std::uint32_t> blocks;  // every segment's address, in reading order
  // Addresses of the segments that did not get a valid reply for every piece: their data is not
  // the device's and must not be saved or sent as if it were.
  std::vector<std::uint32_t> unreadSegments;
};

// Reads every segment's `length` bytes from the device into its `data` (zeroed first) with
// "~du%08X,%02X\r\n" pieces, reporting progress like the download. Succeeds only when every piece
// of every segment got a valid reply; a failed or malformed piece abandons its segment and the
// result is the first failure's code.
std::int32_t ReadBackSegments(TransferContext& context, SegmentList& segments,
                              ProgressCallback progress, void* userData, ReadBackReport& report);

}  // namespace vantor::protocol
