// What the result codes mean: every code the tools can show after "통신에러" (the download's own
// codes, the read-back's -1 and -2, system errors of the port, the time-out and the cancel), as
// one English line for the command-line tool and for the manual page's table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/text_commands.h"

namespace vantor::device {

// The result code of a download whose verify found the device's memory different from the image
// (next to kErrorUnitNumber, the tool's own codes; -1 keeps its meaning: no answer in time).
inline constexpr std::int32_t kErrorVerifyDiffers = -9101;

// The meaning of `code`, without the code: "the device stopped answering (no reply within
// 5000 ms)". A system error is explained with the system's own text.
std::string ResultCodeMeaning(std::int32_t code);

// "<code>: <meaning>", the line the command-line tool prints after the programs' text.
std::string ExplainResultCode(std::int32_t code);

// The meaning of a failure's code where the message shows it bare after the programs' "통신에러"
// text; none for a success or a failure that says what happened in words.
std::optional<std::string> CodeMeaning(std::int32_t code, std::string_view message);

// "acknowledged", "silent" or "refused".
const char* BootOutcomeName(protocol::BootModeOutcome outcome);

// The table of codes for a reader: the fixed codes, then the rules for system errors.
struct ResultCodeRow {
  std::string code;  // "-8540", or a rule such as "N - 10000"
  std::string meaning;
};
std::vector<ResultCodeRow> ResultCodeTable();

}  // namespace vantor::device
