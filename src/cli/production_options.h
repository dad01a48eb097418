// What download, write and station keep of each device and where its number comes from: the
// production record (--record), unit numbers (--serial...), the database (--database, with
// --spool for what it cannot take). Checked and prepared before anything is sent.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "cli/commands.h"
#include "cli/images.h"
#include "cli/unit_options.h"
#include "device/job.h"

namespace vantor::cli {

inline constexpr const char* kDefaultSpool = "vantor-spool.jsonl";

struct ProductionArgs {
  std::string record;
  UnitArgs units;
  std::string database;
  std::string spool = kDefaultSpool;
};

// `oneDevice`: the record's help speaks of the device (download, write) or of each (station).
void AddProductionOptions(CLI::App* command, ProductionArgs& args, bool oneDevice);

// Gives `job` its unit numbers and its record. With --database: the numbers come from the
// database (it must answer now: else a usage error), and records it cannot take go to the spool
// (a run that only records starts without it, and says so on `env.err`). False with `error`.
bool ApplyProductionOptions(Env& env, const ProductionArgs& args, const LoadedImages& images,
                            bool verify, device::Job& job, std::string& error);

// "--database URL" is left out of this build: a line for the help texts, else empty.
std::string DatabaseLeftOutNote();

}  // namespace vantor::cli
