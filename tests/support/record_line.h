// Tests: a production record line made up for the record reader and the report: a start time
// that moves by the minute, one of four ports, and a failure message with a line break and Korean.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "production/record.h"

namespace vantor::testing {

// The record of device `id`, started `minute` minutes into a fixed day and finished 30 s later,
// with the result `code` and, when given, the unit number it was written; `sent` tells whether
// the device was sent anything.
inline std::string RecordLine(const std::string& id, int minute, std::int32_t code,
                              std::optional<std::uint64_t> number, bool sent = true) {
  production::DeviceRecord r;
  r.id = id;
  r.started = std::chrono::system_clock::time_point(std::chrono::hours(490000)) +
              std::chrono::minutes(minute);
  r.finished = r.started + std::chrono::seconds(30);
  r.port = "/dev/ttyUSB" + std::to_string(minute % 4);
  r.code = code;
  r.sent = sent;
  r.message = code == 0 ? "" : "통신에러 \n" + std::to_string(code);
  if (number)
    r.unit = device::UnitPatch{*number, 0x100010, {1, 2, 3, 4}};
  return production::FormatRecord(r);
}

}  // namespace vantor::testing
