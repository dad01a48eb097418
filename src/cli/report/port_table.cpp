// The tables of a run over several ports (see port_table.h).
#include "cli/report/port_table.h"

#include <chrono>
#include <cstdio>

#include "device/texts.h"

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

std::string TableHeader() {
  char header[256];
  std::snprintf(header, sizeof header, "%-24s %-14s %-26s %5s %8s %6s %8s  %s", "port",
                "usb serial", "phase", "%", "bytes/s", "ETA", "attempts", "result");
  return header;
}

std::string TableLine(const PortRow& row, std::int64_t totalBytes) {
  std::string eta;
  const std::string rate = Rate(row, totalBytes, &eta);
  char line[512];
  std::snprintf(line, sizeof line, "%-24s %-14s %-26s %4d%% %8s %6s %8d  %s", row.port.c_str(),
                row.usbSerial.empty() ? "-" : row.usbSerial.c_str(), row.step.substr(0, 26).c_str(),
                row.percent, rate.c_str(), eta.c_str(), row.attempt, ResultText(row).c_str());
  return line;
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

void PrintSummary(std::ostream& out, const std::vector<const PortRow*>& rows) {
  char line[768];
  std::snprintf(line, sizeof line, "%-20s %-20s %8s %8s %8s  %s\n", "port", "answered", "result",
                "attempts", "seconds", "message");
  out << line;
  for (const PortRow* row : rows) {
    std::snprintf(line, sizeof line, "%-20s %-20s %8d %8d %8.1f  %s\n", row->port.c_str(),
                  row->answered.c_str(), row->code.value_or(-1), row->attempt, row->seconds,
                  RowMessage(*row).c_str());
    out << line;
  }
  out.flush();
}

}  // namespace vantor::cli
