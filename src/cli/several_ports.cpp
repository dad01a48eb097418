// Several devices at once (see several_ports.h).
#include "cli/several_ports.h"

#include <algorithm>
#include <cstdio>

#include "cli/cli.h"
#include "cli/report/live_table.h"
#include "cli/report/port_table.h"
#include "device/worker_pool.h"
#include "production/port_rows.h"

namespace vantor::cli {

using production::PortRow;

namespace {

using production::FinishRow;
using production::PortRows;
using production::RowChange;

constexpr auto kDrawInterval = std::chrono::milliseconds(100);
constexpr auto kQuietWait = std::chrono::milliseconds(500);

std::string ProgressLine(const PortRow& row) {
  constexpr int kWidth = 20;
  const int filled = std::clamp(row.percent, 0, 100) * kWidth / 100;
  char line[512];
  std::snprintf(line, sizeof line, "%-20s [%s%s] %3d%%  %s", row.port.c_str(),
                std::string(static_cast<std::size_t>(filled), '#').c_str(),
                std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), row.percent,
                row.step.c_str());
  return line;
}

}  // namespace

int RunOnSeveralPorts(Env& env, const std::vector<std::string>& ports, const device::Job& job) {
  const bool drawLines = env.errIsTerminal && !env.quiet && !env.json;
  const bool sayLines = !drawLines && !env.json && !env.quiet;
  PortRows rows;
  device::WorkerPool pool(env.cancel);
  std::size_t running = 0;
  {
    std::lock_guard lock(rows.mutex());
    for (const std::string& port : ports) {
      PortRow& row = rows.Add(port);
      std::shared_ptr<Reporter> observer = production::MakeRowObserver(
          rows, row, env.json ? MakeJsonReporter(env.out, port) : nullptr,
          [&env, sayLines](const PortRow& r, RowChange) {
            if (sayLines && r.code)
              env.out << r.port << ": " << r.step << "\n" << std::flush;
          });
      std::string error;
      const bool started = pool.Start(
          port,
          [&job, &rows, &row, port, observer](const serial::CancelToken& cancel) {
            const device::JobOutcome outcome = device::RunJob(port, job, &cancel, *observer);
            std::lock_guard lock(rows.mutex());
            production::SettleRow(row, outcome);  // as the record says
            return outcome.ok();
          },
          error);
      if (started) {
        ++running;
      } else {
        row.message = error;
        FinishRow(row, false, false);
      }
    }
  }

  LiveTable table(env.err);
  auto draw = [&] {
    if (!drawLines)
      return;
    std::vector<std::string> lines;
    std::lock_guard lock(rows.mutex());
    for (const auto& row : rows.rows())
      lines.push_back(ProgressLine(*row));
    table.Draw(lines);
  };
  draw();
  while (running > 0) {
    for (const auto& ended : pool.WaitForEnded(drawLines ? kDrawInterval : kQuietWait)) {
      std::lock_guard lock(rows.mutex());
      for (const auto& row : rows.rows()) {
        if (row->port == ended.port && row->running)
          FinishRow(*row, ended.ok, ended.cancelled);
      }
      --running;
    }
    draw();
  }

  std::vector<const PortRow*> summary;
  bool allOk = true;
  for (const auto& row : rows.rows()) {
    summary.push_back(row.get());
    allOk = allOk && row->ok;
  }
  if (!env.json)
    PrintSummary(env.out, summary, env.outColumns);
  return allOk ? kExitOk : kExitFailure;
}

}  // namespace vantor::cli
