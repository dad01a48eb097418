// How the rows of a run over several ports are shown: the station's live table (a header and a
// line per port with its rate and estimate), the final summary table, and the result in words.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "production/port_rows.h"

namespace vantor::cli {

// The live table's header line and the line of one row; `totalBytes` gives the rate and the
// estimate of a running row.
std::string TableHeader();
std::string TableLine(const production::PortRow& row, std::int64_t totalBytes);

// A finished row's result: "ok", "failed CODE", "cancelled", with the row's note; empty while
// it runs.
std::string ResultText(const production::PortRow& row);

// The final table: port, answered, result, attempts, seconds and message, one row per port.
void PrintSummary(std::ostream& out, const std::vector<const production::PortRow*>& rows);

// A message on one line (the programs' texts carry line breaks).
std::string OneLine(std::string text);
// The row's message on one line, and "; record NOT written: REASON" when its record was lost.
std::string RowMessage(const production::PortRow& row);

}  // namespace vantor::cli
