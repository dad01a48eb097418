// What download, write and station keep of each device and where its number comes from: the
// production record, unit numbers, the database (with a spool for what it cannot take). Checked
// and prepared before anything is sent.
#pragma once

#include <string>

#include "device/job.h"
#include "production/loaded_images.h"
#include "production/unit_setup.h"

namespace vantor::production {

inline constexpr const char* kDefaultSpool = "vantor-spool.jsonl";

// As the command line gives them (--record, --serial..., --database, --spool, --station-name).
struct ProductionArgs {
  std::string station;  // the name in the records; empty: the host's name
  std::string record;
  UnitArgs units;
  std::string database;
  std::string spool = kDefaultSpool;
};

// Gives `job` its unit numbers and its record. With a database: the numbers come from the
// database (it must answer now: else an error), and records it cannot take go to the spool (a
// run that only records starts without it, and `warning` says so). Every file the run writes
// (the record, the spool with a database, the counter or the list's position) is checked last
// and nothing is created when a check fails. False with `error`: a usage error.
bool ApplyProductionOptions(const ProductionArgs& args, const LoadedImages& images, bool verify,
                            device::Job& job, std::string& warning, std::string& error);

}  // namespace vantor::production
