// The production database (PostgreSQL): the records of every station in one table, and unit
// numbers handed out in a transaction, so that stations on several PCs never share one. The
// schema is made when missing and its version kept in a table of its own:
//   vantor_schema   (version integer)                                  -- one row
//   vantor_records  (id text primary key, station text, port text, started timestamptz,
//                    finished timestamptz, code integer, unit numeric(20), record jsonb)
//   vantor_counters (name text primary key, next numeric(20))
// A record goes in once: its id is the key, a record loaded twice adds nothing. A build may
// leave the database out (BuiltIn() is false: every call fails and says so).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "production/record_reader.h"
#include "production/unit_numbers.h"

namespace vantor::production {

class ProductionDatabase {
 public:
  // Whether this build has the database.
  static bool BuiltIn();
  // For a URL such as postgresql://line1@db/production. Nothing is connected yet: each call
  // connects when it has no connection, and a call whose connection was lost is made again on
  // a new one, a few times within about two seconds, before it fails.
  static std::shared_ptr<ProductionDatabase> Open(const std::string& url);
  virtual ~ProductionDatabase() = default;

  // Connects (when not connected) and makes the schema when missing.
  virtual bool Connect(std::string& error) = 0;
  // Inserts the record line, its station column from `summary.station`; `added` tells whether
  // it was new (false: its id is there).
  virtual bool Insert(const std::string& line, const RecordSummary& summary, bool& added,
                      std::string& error) = 0;
  // Every record, in the order started.
  virtual bool ReadAll(std::vector<RecordSummary>& records, std::string& error) = 0;
  // The unit-number counter `name` as a source of numbers (see unit_numbers.h); it starts at
  // `start` when the database holds none yet.
  virtual std::shared_ptr<UnitNumbers> Counter(const std::string& name,
                                               std::optional<std::uint64_t> start,
                                               std::uint64_t step) = 0;
};

inline constexpr const char* kDefaultCounterName = "units";
inline constexpr int kSchemaVersion = 1;

}  // namespace vantor::production
