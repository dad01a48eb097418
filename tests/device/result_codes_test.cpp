// The table of result codes: every code the tools show has its own meaning, system errors are
// told with the system's text, and the table a reader gets lists them all.
#include "device/result_codes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "protocol/download.h"
#include "protocol/text_commands.h"
#include "serial/cancel.h"
#include "serial/serial_port.h"

namespace vantor::device {
namespace {

TEST(ResultCodes, EachCodeTellsItsCause) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {-8540, "-8540: the device stopped answering (no reply within 5000 ms)"},
      {protocol::DL_ERR_REFUSED_2, "-9978: the device refused a data frame (status 2)"},
      {protocol::DL_ERR_REFUSED_5, "-9979: the device refused a data frame (status 5)"},
      {protocol::DL_ERR_NOT_READY,
       "-10014: the device did not report ready (no status 14 after the ready "
       "frame)"},
      {-1,
       "-1: the device did not answer a text command in time (3000 ms, 5000 ms for a "
       "read-back piece)"},
      {serial::kErrorCancelled, "1223: cancelled"},
      {-20000, "-20000: not a code the tools give"},
  };
  for (const auto& [code, line] : cases)
    EXPECT_EQ(ExplainResultCode(code), line);
}

TEST(ResultCodes, EveryFixedCodeHasItsOwnMeaning) {
  const std::int32_t fixed[] = {protocol::DL_ERR_TOO_LONG,
                                protocol::DL_ERR_NOT_READY,
                                protocol::DL_ERR_REFUSED_2,
                                protocol::DL_ERR_REFUSED_5,
                                protocol::DL_ERR_REFUSED,
                                protocol::DL_ERR_NO_CAPABILITY,
                                -1,
                                protocol::kReadBackMalformed,
                                serial::kErrorTimeout,
                                serial::kErrorCancelled,
                                protocol::DL_ERR_IO_BASE + serial::kErrorTimeout,
                                protocol::DL_ERR_IO_BASE + serial::kErrorCancelled};
  std::set<std::string> meanings;
  for (const std::int32_t code : fixed) {
    const std::string meaning = ResultCodeMeaning(code);
    EXPECT_EQ(meaning.find("system error"), std::string::npos) << code << ": " << meaning;
    EXPECT_EQ(meaning.find("not a code"), std::string::npos) << code << ": " << meaning;
    EXPECT_TRUE(meanings.insert(meaning).second) << code << " shares its meaning: " << meaning;
  }
}

TEST(ResultCodes, SystemErrorsAreToldWithTheSystemsText) {
  // A failed read inside a segment (system error - 10000) and a failed opening command (the
  // system error itself).
  EXPECT_EQ(ResultCodeMeaning(protocol::DL_ERR_IO_BASE + EIO),
            "system error " + std::to_string(EIO) +
                " on the port: " + serial::SystemErrorText(EIO) + " (inside a segment)");
  EXPECT_EQ(ResultCodeMeaning(ENOENT), "system error " + std::to_string(ENOENT) +
                                           " on the port: " + serial::SystemErrorText(ENOENT));
}

TEST(ResultCodes, TheTableListsEveryFixedCodeAndTheRules) {
  const auto table = ResultCodeTable();
  std::set<std::string> codes;
  for (const ResultCodeRow& row : table) {
    EXPECT_FALSE(row.meaning.empty()) << row.code;
    codes.insert(row.code);
  }
  for (const char* code : {"-8540", "-9978", "-9979", "-9997", "-9996", "-9999", "-10014", "-1",
                           "-2", "1460", "1223", "N - 10000"})
    EXPECT_EQ(codes.count(code), 1u) << code;
}

}  // namespace
}  // namespace vantor::device
