// "vantor report" and "vantor record import" (see report_command.h).
#include "cli/report_command.h"

#include "cli/cli.h"
#include "cli/production_options.h"
#include "cli/report/production_report.h"
#include "production/database.h"
#include "production/production_report.h"
#include "production/record_reader.h"

namespace vantor::cli {

using production::ProductionDatabase;
using production::ProductionReport;
using production::ReadRecordFile;
using production::RecordFile;
using production::RecordSummary;
using production::SummarizeProduction;

namespace {

int ReportCommand(Env& env, const std::string& file, const std::string& url) {
  if (file.empty() == url.empty()) {
    env.err << "vantor: report: a record FILE or --database URL\n";
    return kExitUsage;
  }
  std::vector<RecordSummary> records;
  std::string error;
  if (!file.empty()) {
    RecordFile read;
    if (!ReadRecordFile(file, read, error)) {
      env.err << "vantor: " << error << "\n";
      return kExitUsage;
    }
    for (const std::string& torn : read.torn)
      env.err << "vantor: " << torn << "\n";
    records = std::move(read.records);
  } else if (!ProductionDatabase::Open(url)->ReadAll(records, error)) {
    env.err << "vantor: " << error << "\n";
    return kExitFailure;
  }
  const ProductionReport summary = SummarizeProduction(records);
  PrintProductionReport(env.out, summary, env.json);
  // Numbers given twice are an alarm a script must not miss.
  return summary.numbersTwice.empty() ? kExitOk : kExitFailure;
}

// Loads record lines into the database; a line already there (its id) is left alone.
int ImportCommand(Env& env, const std::string& file, const std::string& url) {
  RecordFile read;
  std::string error;
  if (!ReadRecordFile(file, read, error)) {
    env.err << "vantor: " << error << "\n";
    return kExitUsage;
  }
  for (const std::string& torn : read.torn)
    env.err << "vantor: " << torn << "\n";
  const std::vector<std::string>& lines = read.lines;
  const std::vector<RecordSummary>& records = read.records;
  auto database = ProductionDatabase::Open(url);
  std::size_t added = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    bool isNew = false;
    if (records[i].id.empty()) {
      env.err << "vantor: " << file << ": a record without an id cannot be loaded once only\n";
      return kExitUsage;
    }
    if (!database->Insert(lines[i], records[i], isNew, error)) {
      env.err << "vantor: " << error << " (" << added << " of " << lines.size()
              << " loaded so far; loading again adds only what is missing)\n";
      return kExitFailure;
    }
    added += isNew ? 1 : 0;
  }
  env.out << lines.size() << " record(s): " << added << " added, " << lines.size() - added
          << " already there\n"
          << std::flush;
  return kExitOk;
}

}  // namespace

void AddReportCommand(CLI::App& app, Env& env, Action& action) {
  struct Args {
    std::string file;
    std::string url;
    std::string importFile;
    std::string importUrl;
  };
  auto args = std::make_shared<Args>();
  auto* report = app.add_subcommand(
      "report",
      "Sum up the production: units, yield, failures by result code, units per hour, the unit "
      "numbers used and any number given twice (exit 1); from a record file or the database");
  report->add_option("file", args->file, "The production record (--record's file, or a spool)");
  report->add_option("--database", args->url,
                     "PostgreSQL URL: the records of every station" + DatabaseLeftOutNote());
  report->callback([&env, &action, args] {
    action = [&env, args] { return ReportCommand(env, args->file, args->url); };
  });

  auto* record = app.add_subcommand("record", "Production records");
  record->require_subcommand(1);
  auto* import = record->add_subcommand(
      "import",
      "Load record lines (a spool, or a record file) into the database; a record already there "
      "is left alone, so loading twice adds nothing");
  import->add_option("file", args->importFile, "The lines to load")->required();
  import->add_option("--database", args->importUrl, "PostgreSQL URL" + DatabaseLeftOutNote())
      ->required();
  import->callback([&env, &action, args] {
    action = [&env, args] { return ImportCommand(env, args->importFile, args->importUrl);
};
}  // namespace vantor::cli
);
}

}  // namespace vantor::cli
