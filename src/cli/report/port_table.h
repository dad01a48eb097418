// How the rows of a run over several ports are shown: the station's live table (a header, a status
// line and a line per port with its rate and estimate, fitted to the terminal), the final summary
// table, and the result in words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "production/port_rows.h"

namespace vantor::cli {

// The station's live table on a terminal of `size`: the header, the `status` line, every running
// row and as many of the newest finished rows as fit (in the order the devices appeared), then a
// line that sums the rows left out. At most size.lines - 1 lines (the cursor's line stays free,
// so nothing scrolls), each narrower than size.columns; `totalBytes` gives the rate and the
// estimate of a running row. A failure shows its code's meaning; a long port name loses its
// start.
std::vector<std::string> TableLines(const std::vector<const production::PortRow*>& rows,
                                    const std::string& status, std::int64_t totalBytes,
                                    TerminalSize size);

// The table's status line: what the station waits on, or that it stops.
std::string WaitingStatus(const std::string& match, int count, int done);
std::string StoppingStatus(std::size_t running);
std::string CancellingStatus(std::size_t running);

// `text` cut to `columns` character cells: from the right ("abc…"), or from the left keeping its
// end ("…xyz", for port names).
std::string CutRight(const std::string& text, std::size_t columns);
std::string CutLeft(const std::string& text, std::size_t columns);
// The character cells `text` takes (UTF-8; Hangul and other wide characters take two).
std::size_t TextColumns(const std::string& text);

// A finished row's result: "ok", "failed CODE", "cancelled", with the row's note; empty while
// it runs.
std::string ResultText(const production::PortRow& row);

// The final table: port, answered, result, attempts, seconds and message, one row per port, the
// columns in line. With `columns` (a terminal's width) every line fits it: a long port name loses
// its start and a long message its end (the record and --json keep them whole).
void PrintSummary(std::ostream& out, const std::vector<const production::PortRow*>& rows,
                  int columns = 0);

// A message on one line (the programs' texts carry line breaks).
std::string OneLine(std::string text);
// The row's message on one line, and "; record NOT written: REASON" when its record was lost.
std::string RowMessage(const production::PortRow& row);

}  // namespace vantor::cli
