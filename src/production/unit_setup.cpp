// Where the unit numbers go and where they come from, checked and opened (see unit_setup.h).
#include "production/unit_setup.h"

#include <filesystem>
#include <vector>

#include "production/write_check.h"
#include "serial/number_text.h"

namespace vantor::production {

namespace {

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos)
      return parts;
    start = colon + 1;
  }
}

UnitNumbers::Fits FitsAt(const device::NumberPlace& place) {
  return [place](std::uint64_t number, std::string& error) {
    std::vector<std::uint8_t> bytes;
    return device::EncodeNumber(number, place, bytes, error);
  };
}

}  // namespace

bool ParseNumberPlace(const std::string& text, device::NumberPlace& place, std::string& error) {
  const std::vector<std::string> parts = SplitColons(text);
  error = "--serial: ADDR:SIZE[:le|be|ascii], not '" + text + "'";
  if (parts.size() < 2 || parts.size() > 3)
    return false;
  const auto address =
      serial::ParseNumber<std::uint32_t>(parts[0], serial::NumberSyntax::kDecimalOrHex);
  const auto size =
      serial::ParseNumber<std::uint64_t>(parts[1], serial::NumberSyntax::kDecimalOrHex);
  if (!address || !size)
    return false;
  place.address = static_cast<std::uint32_t>(*address);
  place.size = static_cast<std::size_t>(*size);
  place.encoding = device::NumberEncoding::kLittleEndian;
  if (parts.size() == 3 && !device::ParseNumberEncoding(parts[2], place.encoding))
    return false;
  error.clear();
  return true;
}

bool ApplyUnitOptions(const UnitArgs& args, device::Job& job, std::string& error,
                      const CounterFactory& database, const ReadyCheck& ready) {
  const auto readyToOpen = [&] { return !ready || ready(error); };
  if (args.place.empty()) {
    if (!args.start.empty() || !args.step.empty() || !args.counter.empty() || !args.list.empty()) {
      error = "--serial-start, --serial-step, --serial-counter and --serial-list need --serial";
      return false;
    }
    return readyToOpen();
  }
  device::NumberPlace place;
  if (!ParseNumberPlace(args.place, place, error))
    return false;
  if (const auto problem = device::CheckNumberPlace(*job.segments, place)) {
    error = "--serial: " + *problem;
    return false;
  }
  std::optional<std::uint64_t> start;
  std::uint64_t step = 1;
  if (!args.start.empty()) {
    start = serial::ParseNumber<std::uint64_t>(args.start, serial::NumberSyntax::kDecimalOrHex);
    if (!start) {
      error = "--serial-start: not a number: '" + args.start + "'";
      return false;
    }
  }
  if (!args.step.empty()) {
    const auto parsed =
        serial::ParseNumber<std::uint64_t>(args.step, serial::NumberSyntax::kDecimalOrHex);
    if (!parsed || *parsed == 0) {
      error = "--serial-step: not a number of 1 or more: '" + args.step + "'";
      return false;
    }
    step = *parsed;
  }
  std::shared_ptr<UnitNumbers> source;
  // The counter or position file this run makes when it is missing; removed again when the
  // checks below refuse the run, so that a refused run leaves nothing behind.
  std::string made;
  if (database && args.counter.empty() && args.list.empty()) {
    if (!readyToOpen())
      return false;
    source = database(start, step);
  } else {
    if (args.counter.empty() == args.list.empty()) {
      error =
          "--serial needs --serial-counter FILE (with --serial-start), --serial-list FILE or "
          "--database URL";
      return false;
    }
    if (!args.list.empty() && (start || !args.step.empty())) {
      error = "--serial-list takes its numbers from the file: no --serial-start or --serial-step";
      return false;
    }
    const bool counter = args.list.empty();
    const std::string file = counter ? args.counter : ListPositionFile(args.list);
    if (!readyToOpen() ||
        !CheckWritable(file, counter ? "the unit counter" : "the unit list's position", error))
      return false;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
      made = file;
    source = counter ? OpenUnitCounter(args.counter, start, step, error)
                     : OpenUnitList(args.list, error);
    if (!source)
      return false;
  }
  std::uint64_t next = 0;
  if (!source->Peek(next, error) || !FitsAt(place)(next, error)) {
    error = "--serial: " + error;
    source.reset();  // closed before it goes
    std::error_code ec;
    if (!made.empty() && std::filesystem::file_size(made, ec) == 0 && !ec)
      std::filesystem::remove(made, ec);
    return false;
  }
  job.unitPlace = place;
  job.takeNumber = [source, fits = FitsAt(place)](std::uint64_t& number, std::string& error) {
    return source->Take(fits, number, error);
  };
  return true;
}

}  // namespace vantor::production
