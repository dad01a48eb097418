// The station's overhead per unit for the production database: what a worker adds to each
// device when its unit number comes from PostgreSQL (a transaction on the counter) and its record
// goes into the table, against a counter file and a record file on the local disk. One worker,
// then eight at once (as a station's workers, each on a connection of its own). Median and p99 per
// unit. The server is a throw-away cluster under the build folder with fsync on (as a
// production server runs); without the server's programs the benchmark says so and ends.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "production/database.h"
#include "production/record.h"
#include "production/unit_numbers.h"

namespace {

using namespace vantor::production;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kUnits = 400;

struct Source {
  std::shared_ptr<UnitNumbers> numbers;
  std::function<vantor::device::RecordResult(const vantor::device::JobOutcome&)> record;
};

// What a worker does for the database per unit: take a number, keep the record.
double OneUnit(Source& source) {
  const auto start = Clock::now();
  vantor::device::JobOutcome outcome;
  outcome.port = "/dev/bench";
  outcome.started = outcome.finished = std::chrono::system_clock::now();
  outcome.last.ok = true;
  outcome.last.bytes = 16384;
  std::uint64_t number = 0;
  std::string error;
  if (!source.numbers->Take([](std::uint64_t, std::string&) { return true; }, number, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  outcome.unit = vantor::device::UnitPatch{number, 0x100010, {1, 2, 3, 4}};
  const auto kept = source.record(outcome);
  if (kept.error || kept.note) {
    std::fprintf(stderr, "%s\n", kept.error.value_or(kept.note.value_or("")).c_str());
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Measure(const char* name, Source& source, int workers) {
  std::vector<double> times;
  std::mutex mutex;
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      for (int i = 0; i < kUnits / workers; ++i) {
        const double ms = OneUnit(source);
        std::lock_guard lock(mutex);
        times.push_back(ms);
      }
    });
  }
  for (auto& t : threads)
    t.join();
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  const double p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  std::printf("%-34s %d worker(s)  %4zu units  median %7.3f ms  p99 %7.3f ms\n", name, workers,
              times.size(), median, p99);
}

}  // namespace

int main() {
  const fs::path dir = fs::path(VANTOR_BENCH_DIR) / "database-bench";
  const std::string script = VANTOR_PG_SCRIPT;
  if (std::system((script + " start " + dir.string() + " durable >/dev/null").c_str()) != 0) {
    std::fprintf(stderr, "the test server did not start\n");
    return 1;
  }
  std::ifstream urlFile(dir / "url");
  std::string url;
  std::getline(urlFile, url);
  if (url.empty()) {
    std::printf("no PostgreSQL server programs (/usr/lib/postgresql/*/bin): nothing measured\n");
    return 0;
  }
  std::string error;
  fs::create_directories(dir / "files");
  const std::vector<RecordImage> images{{"BOOT", 0x100000, 16384, std::string(64, '0')}};
  for (const int workers : {1, 8}) {
    const fs::path files = dir / "files" / std::to_string(workers);
    fs::create_directories(files);
    Source local{
        OpenUnitCounter((files / "counter").string(), 1, 1, error),
        MakeRecorder({(files / "record.jsonl").string(), nullptr, "", "bench"}, images, false)};
    Measure("counter file + record file", local, workers);
    auto db = ProductionDatabase::Open(url);
    if (!db->Connect(error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    Source remote{db->Counter("bench" + std::to_string(workers), 1, 1),
                  MakeRecorder({"", db, (files / "spool.jsonl").string(), "bench"}, images, false)};
    Measure("database counter + database record", remote, workers);
  }
  std::system((script + " stop " + dir.string()).c_str());
  return 0;
}
