// The tables of a run over several ports (see port_table.h).
#include "cli/report/port_table.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <utility>

#include "device/result_codes.h"
#include "device/texts.h"
#include "production/json_string.h"

namespace vantor::cli {

using production::PortRow;

namespace {

using Clock = PortRow::Clock;

std::string Rate(const PortRow& row, std::int64_t totalBytes, std::string* eta) {
  *eta = "-";
  if (!row.running || !row.progressSince || row.percent <= 0)
    return "-";
  const double seconds = std::chrono::duration<double>(Clock::now() - *row.progressSince).count();
  const double done = static_cast<double>(totalBytes) * row.percent / 100.0;
  if (seconds <= 0)
    return "-";
  const double rate = done / seconds;
  char text[32];
  std::snprintf(text, sizeof text, "%.0fs", (static_cast<double>(totalBytes) - done) / rate);
  *eta = text;
  std::snprintf(text, sizeof text, "%.0f", rate);
  return text;
}

// The live table's columns; the result, last, takes what room is left.
enum Column : std::size_t { kPort, kUnit, kUsb, kPhase, kPercent, kRate, kEta, kAttempt, kResult };
constexpr std::size_t kColumnCount = kResult + 1;
constexpr bool kRightAligned[kColumnCount] = {false, true, false, false, true,
                                              true,  true, true,  false};
constexpr std::size_t kMinResult =
    28;  // room kept for a result: a code and the start of its meaning
constexpr const char* kEllipsis = "\u2026";

// Characters two cells wide: Hangul, CJK and the full-width forms.
bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6);
}

// The bytes of the character at `i`: a byte that is no valid UTF-8 stands alone (it shows as one
// Latin-1 character, as in the JSON).
std::size_t CharLength(const std::string& text, std::size_t i) {
  return std::max<std::size_t>(1, production::Utf8Sequence(text, i));
}

// A finished row's result with, for a failure, what its code means.
std::string TableResult(const PortRow& row) {
  std::string text = ResultText(row);
  if (!row.running && !row.cancelled && row.code && *row.code != 0)
    text += ": " + device::ResultCodeMeaning(*row.code);
  return text;
}

}  // namespace

std::string ResultText(const PortRow& row) {
  if (row.running)
    return "";
  if (row.cancelled)
    return "cancelled";
  if (!row.recordError.empty())
    return device::RecordNotWrittenText(row.recordError);
  return (*row.code == 0 ? "ok" : "failed " + std::to_string(*row.code)) +
         (row.note.empty() ? "" : ", " + row.note);
}

std::size_t TextColumns(const std::string& text) {
  std::size_t columns = 0;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = production::Utf8Sequence(text, i, &c);
    columns += length > 0 && Wide(c) ? 2 : 1;
    i += std::max<std::size_t>(1, length);
  }
  return columns;
}

std::string CutRight(const std::string& text, std::size_t columns) {
  if (TextColumns(text) <= columns)
    return text;
  if (columns == 0)
    return "";
  std::string cut;
  std::size_t used = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = CharLength(text, i);
    const std::string c = text.substr(i, length);
    if (used + TextColumns(c) + 1 > columns)
      break;
    cut += c;
    used += TextColumns(c);
    i += length;
  }
  return cut + kEllipsis;
}

std::string CutLeft(const std::string& text, std::size_t columns) {
  if (TextColumns(text) <= columns)
    return text;
  if (columns == 0)
    return "";
  std::string end;
  std::size_t used = 0;
  std::size_t i = text.size();
  while (i > 0) {
    std::size_t begin = i - 1;
    while (begin > 0 && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80)
      --begin;
    const std::string c = text.substr(begin, i - begin);
    if (used + TextColumns(c) + 1 > columns)
      break;
    end.insert(0, c);
    used += TextColumns(c);
    i = begin;
  }
  return kEllipsis + end;
}

std::string WaitingStatus(const std::string& match, int count, int done) {
  return "waiting for devices on " + match + " (" + std::to_string(done) +
         (count > 0 ? " of " + std::to_string(count) : "") + " done)";
}

std::string StoppingStatus(std::size_t running) {
  return "stopping: no new devices, " + std::to_string(running) +
         " running (Ctrl+C again cancels them)";
}

std::string CancellingStatus(std::size_t running) {
  return "cancelling: " + std::to_string(running) + " running";
}

std::vector<std::string> TableLines(const std::vector<const PortRow*>& rows,
                                    const std::string& status, std::int64_t totalBytes,
                                    TerminalSize size) {
  const std::size_t width = static_cast<std::size_t>(std::max(size.columns - 1, 1));
  // Header, status, rows, and the sum of the rows left out; the cursor's line stays free.
  const std::size_t room = static_cast<std::size_t>(std::max(size.lines - 1, 3)) - 2;
  std::vector<bool> shown(rows.size(), rows.size() <= room);
  const std::size_t rowRoom = room - 1;
  std::size_t taken = 0;
  if (rows.size() > room) {
    for (std::size_t i = 0; i < rows.size() && taken < rowRoom; ++i) {
      if (rows[i]->running) {
        shown[i] = true;
        ++taken;
      }
    }
    for (std::size_t i = rows.size(); i-- > 0 && taken < rowRoom;) {
      if (!rows[i]->running) {
        shown[i] = true;
        ++taken;
      }
    }
  }

  // The cells of every shown row, then the columns' widths.
  std::vector<std::array<std::string, kColumnCount>> cells{
      {"port", "unit", "usb serial", "phase", "%", "bytes/s", "ETA", "att", "result"}};
  bool anyUsb = false;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!shown[i])
      continue;
    const PortRow& row = *rows[i];
    std::string eta;
    const std::string rate = Rate(row, totalBytes, &eta);
    anyUsb = anyUsb || !row.usbSerial.empty();
    cells.push_back({row.port, row.unit ? std::to_string(*row.unit) : "-",
                     row.usbSerial.empty() ? "-" : row.usbSerial, OneLine(row.step),
                     std::to_string(row.percent) + "%", rate, eta, std::to_string(row.attempt),
                     TableResult(row)});
  }
  std::array<std::size_t, kColumnCount> widths{};
  for (const auto& line : cells) {
    for (std::size_t c = 0; c < kColumnCount; ++c)
      widths[c] = std::max(widths[c], TextColumns(line[c]));
  }
  widths[kUsb] = anyUsb ? std::min<std::size_t>(widths[kUsb], 14) : 0;
  widths[kPort] = std::min<std::size_t>(widths[kPort], 24);
  widths[kPhase] = std::min<std::size_t>(widths[kPhase], 26);
  // Too wide: the phase and then the port give up room, down to a floor; the result takes the rest.
  const auto used = [&] {
    std::size_t sum = 0;
    for (std::size_t c = 0; c + 1 < kColumnCount; ++c)
      sum += widths[c] == 0 ? 0 : widths[c] + 1;
    return sum + std::min(widths[kResult], kMinResult);
  };
  for (const auto& [column, minimum] :
       {std::pair{kPhase, std::size_t{12}}, std::pair{kPort, std::size_t{12}}}) {
    if (used() > width && widths[column] > minimum)
      widths[column] -= std::min(widths[column] - minimum, used() - width);
  }

  std::vector<std::string> lines;
  const auto layOut = [&](const std::array<std::string, kColumnCount>& line) {
    std::string text;
    for (std::size_t c = 0; c + 1 < kColumnCount; ++c) {
      if (widths[c] == 0)
        continue;
      const std::string cell =
          c == kPort ? CutLeft(line[c], widths[c]) : CutRight(line[c], widths[c]);
      const std::string pad(widths[c] - TextColumns(cell), ' ');
      text += kRightAligned[c] ? pad + cell : cell + pad;
      text += ' ';
    }
    text += line[kResult];
    return CutRight(text, width);
  };
  lines.push_back(layOut(cells.front()));
  lines.push_back(CutRight(status, width));
  for (std::size_t i = 1; i < cells.size(); ++i)
    lines.push_back(layOut(cells[i]));

  // The rows left out, summed.
  std::size_t running = 0;
  std::size_t ok = 0;
  std::size_t failed = 0;
  std::size_t cancelled = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (shown[i])
      continue;
    if (rows[i]->running)
      ++running;
    else if (rows[i]->cancelled)
      ++cancelled;
    else if (rows[i]->ok)
      ++ok;
    else
      ++failed;
  }
  if (running + ok + failed + cancelled > 0) {
    std::string sum;
    if (running > 0)
      sum = std::to_string(running) + " more running";
    if (ok + failed + cancelled > 0) {
      sum += (sum.empty() ? "" : "; ") + std::to_string(ok + failed + cancelled) +
             " earlier: " + std::to_string(ok) + " ok, " + std::to_string(failed) + " failed";
      if (cancelled > 0)
        sum += ", " + std::to_string(cancelled) + " cancelled";
    }
    lines.push_back(CutRight(sum, width));
  }
  return lines;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r')
      c = ' ';
  }
  return text;
}

std::string RowMessage(const PortRow& row) {
  std::string text = OneLine(row.message);
  if (!row.recordError.empty())
    text += (text.empty() ? "" : "; ") + device::RecordNotWrittenText(row.recordError);
  return text;
}

void PrintSummary(std::ostream& out, const std::vector<const PortRow*>& rows, int columns) {
  // The port and answered columns as wide as their longest entry, so that the columns stay in line.
  std::size_t portWidth = TextColumns("port");
  std::size_t answeredWidth = TextColumns("answered");
  for (const PortRow* row : rows) {
    portWidth = std::max(portWidth, TextColumns(row->port));
    answeredWidth = std::max(answeredWidth, TextColumns(row->answered));
  }
  // On a terminal every line stays whole: a long port loses its start, the message its end.
  constexpr std::size_t kNumbers = 3 * 9 + 2;  // result, attempts, seconds and their spaces
  const std::size_t width = columns > 0 ? static_cast<std::size_t>(columns) - 1 : 0;
  if (width > 0) {
    const std::size_t room =
        width > answeredWidth + kNumbers + 1 ? width - answeredWidth - kNumbers - 1 : 0;
    portWidth = std::min(portWidth, std::max<std::size_t>(12, room / 2));
  }
  const auto line = [&](const std::string& port, const std::string& answered,
                        const std::string& numbers, const std::string& message) {
    const std::string portCell = width > 0 ? CutLeft(port, portWidth) : port;
    std::string text = portCell + std::string(portWidth - TextColumns(portCell), ' ') + " " +
                       answered + std::string(answeredWidth - TextColumns(answered), ' ') +
                       numbers + message;
    out << (width > 0 ? CutRight(text, width) : text) << "\n";
  };
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " %8s %8s %8s  ", "result", "attempts", "seconds");
  line("port", "answered", numbers, "message");
  for (const PortRow* row : rows) {
    std::snprintf(numbers, sizeof numbers, " %8d %8d %8.1f  ", row->code.value_or(-1), row->attempt,
                  row->seconds);
    line(row->port, row->answered, numbers, RowMessage(*row));
  }
  out.flush();
}

}  // namespace vantor::cli
