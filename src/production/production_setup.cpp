// What a run keeps of each device and where its numbers come from (see production_setup.h).
#include "production/production_setup.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>

#include "production/database.h"
#include "production/record.h"
#include "production/write_check.h"

namespace vantor::production {

namespace {

// A station's name when none is given: the host's.
std::string HostName() {
#ifdef _WIN32
  const char* name = std::getenv("COMPUTERNAME");
  return name ? name : "station";
#else
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "station";
#endif
}

}  // namespace

bool ApplyProductionOptions(const ProductionArgs& args, const LoadedImages& images, bool verify,
                            device::Job& job, std::string& warning, std::string& error) {
  RecordTargets targets;
  targets.station = args.station.empty() ? HostName() : args.station;
  targets.file = args.record;
  targets.spool = args.spool;
  CounterFactory counter;
  if (!args.database.empty()) {
    if (!ProductionDatabase::BuiltIn()) {
      error = "--database: this build of vantor has no database support";
      return false;
    }
    targets.database = ProductionDatabase::Open(args.database);
    std::string unreachable;
    const bool reached = targets.database->Connect(unreachable);
    const bool numbersFromIt =
        !args.units.place.empty() && args.units.counter.empty() && args.units.list.empty();
    if (!reached && numbersFromIt) {
      error = unreachable + "; the unit numbers come from it: not starting";
      return false;
    }
    if (!reached)
      warning = unreachable + "; records go to " + args.spool;
    counter = [db = targets.database](std::optional<std::uint64_t> start, std::uint64_t step) {
      return db->Counter(kDefaultCounterName, start, step);
    };
  }
  // The files the run writes, checked last: every option is known good by then, and nothing
  // has been created yet.
  const ReadyCheck writable = [&args](std::string& problem) {
    return (args.record.empty() || CheckWritable(args.record, "the record", problem)) &&
           (args.database.empty() || CheckWritable(args.spool, "the spool", problem));
  };
  if (!ApplyUnitOptions(args.units, job, error, counter, writable))
    return false;
  if (!targets.file.empty() || targets.database)
    job.record = MakeRecorder(std::move(targets), DescribeImages(images), verify);
  return true;
}

}  // namespace vantor::production
