// The production options of download, write and station (see production_options.h).
#include "cli/production_options.h"

#include "cli/station/database.h"
#include "cli/station/record.h"

namespace vantor::cli {

std::string DatabaseLeftOutNote() {
  return ProductionDatabase::BuiltIn() ? "" : " (left out of this build: not available)";
}

void AddProductionOptions(CLI::App* command, ProductionArgs& args, bool oneDevice) {
  command->add_option("--record", args.record,
                      oneDevice ? "Append one JSON line for the device to this production record"
                                : "Append one JSON line per device to this production record");
  AddUnitOptions(command, args.units);
  command->add_option("--database", args.database,
                      "PostgreSQL URL (postgresql://USER@HOST/DB): records go into its table and "
                      "unit numbers come from it" +
                          DatabaseLeftOutNote());
  command->add_option("--spool", args.spool,
                      "Where records the database cannot take wait for 'vantor record import' "
                      "(default " +
                          std::string(kDefaultSpool) + ")");
}

bool ApplyProductionOptions(Env& env, const ProductionArgs& args, const LoadedImages& images,
                            bool verify, device::Job& job, std::string& error) {
  RecordTargets targets;
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
      env.err << "vantor: " << unreachable << "; records go to " << args.spool << "\n";
    counter = [db = targets.database](std::optional<std::uint64_t> start, std::uint64_t step) {
      return db->Counter(kDefaultCounterName, start, step);
    };
  }
  if (!ApplyUnitOptions(args.units, job, error, counter))
    return false;
  if (!targets.file.empty() || targets.database)
    job.record = MakeRecorder(std::move(targets), DescribeImages(images), verify);
  return true;
}

}  // namespace vantor::cli
