// The table of result codes (see result_codes.h). The codes come from the layers that produce
// them; only the meanings are written here.
#include "device/result_codes.h"

#include <string_view>

#include "device/texts.h"
#include "device/unit_number.h"
#include "protocol/download.h"
#include "protocol/receiver.h"
#include "protocol/text_commands.h"
#include "serial/cancel.h"
#include "serial/serial_port.h"

namespace vantor::device {

namespace {

std::string Ms(std::chrono::milliseconds duration) {
  return std::to_string(duration.count()) + " ms";
}

struct NamedCode {
  std::int32_t code;
  std::string meaning;
};

// The fixed codes, in the order a reader meets them. Checked before the system-error rules: a
// download code that coincides with "system error N - 10000" means the download's failure.
const std::vector<NamedCode>& NamedCodes() {
  static const std::vector<NamedCode> codes = {
      {protocol::DL_ERR_IO_BASE + serial::kErrorTimeout,
       "the device stopped answering (no reply within " + Ms(protocol::kFrameSilenceTimeout) + ")"},
      {protocol::DL_ERR_IO_BASE + serial::kErrorCancelled,
       "cancelled while the transfer waited for the device"},
      {protocol::DL_ERR_REFUSED_2, "the device refused a data frame (status 2)"},
      {protocol::DL_ERR_REFUSED_5, "the device refused a data frame (status 5)"},
      {protocol::DL_ERR_REFUSED,
       "the device refused a frame (another status, a status reply too short to carry one, or "
       "the end frame's write not confirmed)"},
      {protocol::DL_ERR_NO_CAPABILITY,
       "the device announced no usable frame size (no capability frame, one too short, or W out "
       "of range)"},
      {protocol::DL_ERR_TOO_LONG,
       "the device sent a frame longer than 16 bytes where a status reply or a capability frame "
       "was due"},
      {protocol::DL_ERR_NOT_READY,
       "the device did not report ready (no status 14 after the ready frame)"},
      {-1, "the device did not answer a text command in time (" +
               Ms(protocol::kTextExchangeTimeout) + ", " + Ms(protocol::kWideExchangeTimeout) +
               " for a read-back piece)"},
      {protocol::kReadBackMalformed,
       "the device's read-back reply was malformed (not \"~Du0000\", two hex digits per byte and "
       "CR LF)"},
      {serial::kErrorTimeout,
       "the port took no bytes within " + Ms(protocol::kWriteStallTimeout) + " (time-out)"},
      {serial::kErrorCancelled, "cancelled"},
      {kErrorUnitNumber,
       "no unit number could be taken for the device (the counter, list or database could not "
       "give one, or it did not fit); nothing was sent"},
      {kErrorVerifyDiffers,
       "verify: the device's memory read back differs from the image sent (the first differing "
       "address is in the message)"},
  };
  return codes;
}

std::string SystemError(std::int32_t error) {
  return "system error " + std::to_string(error) +
         " on the port: " + serial::SystemErrorText(error);
}

}  // namespace

std::string ResultCodeMeaning(std::int32_t code) {
  for (const NamedCode& named : NamedCodes()) {
    if (named.code == code)
      return named.meaning;
  }
  if (code == 0)
    return "success";
  if (code > 0)
    return SystemError(code);
  if (code > protocol::DL_ERR_IO_BASE)
    return SystemError(code - protocol::DL_ERR_IO_BASE) + " (inside a segment)";
  return "not a code the tools give";
}

std::string ExplainResultCode(std::int32_t code) {
  return std::to_string(code) + ": " + ResultCodeMeaning(code);
}

std::vector<ResultCodeRow> ResultCodeTable() {
  std::vector<ResultCodeRow> rows;
  for (const NamedCode& named : NamedCodes())
    rows.push_back({std::to_string(named.code), named.meaning});
  rows.push_back({"N (positive)",
                  "system error N on the port (writing the opening command, a "
                  "read-back command, or opening the port)"});
  rows.push_back({"N - 10000", "system error N on the port inside a segment of the download"});
  return rows;
}

const char* BootOutcomeName(protocol::BootModeOutcome outcome) {
  switch (outcome) {
    case protocol::BootModeOutcome::kAcknowledged:
      return "acknowledged";
    case protocol::BootModeOutcome::kSilent:
      return "silent";
    case protocol::BootModeOutcome::kRefused:
      return "refused";
  }
  return "";
}

std::optional<std::string> CodeMeaning(std::int32_t code, std::string_view message) {
  if (code == 0 || message.find(kCommErrorText) == std::string_view::npos)
    return std::nullopt;
  return ExplainResultCode(code);
}

}  // namespace vantor::device
