// The production options of download, write and station (see production_options.h).
#include "cli/production_options.h"

#include "production/database.h"

namespace vantor::cli {

using production::LoadedImages;
using production::ProductionArgs;

using production::kDefaultSpool;
using production::ProductionDatabase;

std::string DatabaseLeftOutNote() {
  return ProductionDatabase::BuiltIn() ? "" : " (left out of this build: not available)";
}

void AddProductionOptions(CLI::App* command, ProductionArgs& args, bool oneDevice) {
  command->add_option("--record", args.record,
                      oneDevice ? "Append one JSON line for the device to this production record"
                                : "Append one JSON line per device to this production record");
  if (!oneDevice) {
    command
        ->add_option("--station-name", args.station,
                     "The station's name in every record (default: this PC's host name)")
        ->check([](const std::string& name) {
          return name.empty() ? std::string("the station's name is empty") : std::string();
        });
  }
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
  std::string warning;
  const bool ok = production::ApplyProductionOptions(args, images, verify, job, warning, error);
  if (!warning.empty())
    env.err << "vantor: " << warning << "\n";
  return ok;
}

}  // namespace vantor::cli
