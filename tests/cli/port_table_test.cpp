// The station's live table as a function of its rows and the terminal's size: never taller than
// the terminal (running rows always shown, the newest finished ones as room allows, the rest
// summed), no line wider, columns in line, a long port name cut from the left, a failure's
// meaning beside its code, the unit number in its column.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/report/port_table.h"
#include "device/result_codes.h"

namespace vantor::cli {
namespace {

using production::PortRow;

class PortTableTest : public ::testing::Test {
 protected:
  PortRow& Running(const std::string& port, std::uint64_t unit) {
    PortRow& row = Add(port);
    row.unit = unit;
    row.step = "segment 1/1";
    row.percent = 40;
    return row;
  }
  PortRow& Finished(const std::string& port, std::int32_t code) {
    PortRow& row = Add(port);
    row.running = false;
    row.code = code;
    row.ok = code == 0;
    row.step = code == 0 ? "done" : "failed";
    return row;
  }
  std::vector<std::string> Lines(TerminalSize size) {
    std::vector<const PortRow*> rows;
    for (const auto& row : m_rows)
      rows.push_back(row.get());
    return TableLines(rows, WaitingStatus("/dev/ttyUSB*", 0, 0), 32768, size);
  }

  std::vector<const PortRow*> Rows() const {
    std::vector<const PortRow*> rows;
    for (const auto& row : m_rows)
      rows.push_back(row.get());
    return rows;
  }

 private:
  PortRow& Add(const std::string& port) {
    m_rows.push_back(std::make_unique<PortRow>());
    m_rows.back()->port = port;
    return *m_rows.back();
  }
  std::vector<std::unique_ptr<PortRow>> m_rows;
};

// 32 units on a station of four fixtures in terminals of several sizes: the table fits, the two
// running rows and the newest finished one are there, and the rows left out are summed.
TEST_F(PortTableTest, NeverTallerOrWiderThanTheTerminal) {
  for (int i = 0; i < 32; ++i)
    Finished("/dev/ttyUSB" + std::to_string(i % 4), i % 8 == 7 ? -9978 : 0).unit = 100 + i;
  Running("/dev/ttyUSB0", 132);
  Running("/dev/ttyUSB1", 133);
  for (const TerminalSize size :
       {TerminalSize{80, 24}, TerminalSize{120, 10}, TerminalSize{40, 6}, TerminalSize{200, 60}}) {
    SCOPED_TRACE(std::to_string(size.columns) + "x" + std::to_string(size.lines));
    const auto lines = Lines(size);
    ASSERT_LE(lines.size(), static_cast<std::size_t>(size.lines - 1));
    std::string all;
    for (const std::string& line : lines) {
      EXPECT_LT(TextColumns(line), static_cast<std::size_t>(size.columns)) << line;
      all += line + "\n";
    }
    EXPECT_EQ(lines[0].rfind("port", 0), 0u) << all;
    EXPECT_EQ(lines[1].rfind("waiting for devices", 0), 0u) << all;
    // The running units, and the newest finished one where there is room beside them.
    for (const char* unit : {" 132 ", " 133 ", " 131 "}) {
      if (size.lines > 6 || std::string(unit) != " 131 ") {
        EXPECT_NE(all.find(unit), std::string::npos) << unit << " in\n" << all;
      }
    }
    if (size.lines < 40) {
      const std::size_t shown = lines.size() - 3;  // header, status, sum
      const std::string earlier = std::to_string(34 - shown) + " earlier: ";
      EXPECT_EQ(lines.back().rfind(earlier, 0), 0u) << all;
    } else {
      EXPECT_EQ(lines.size(), 36u) << all;  // everything, no sum
    }
  }
}

// What is left out is told exactly: ok, failed and cancelled apart, and running rows that did not
// fit (more fixtures than lines).
TEST_F(PortTableTest, TheSumCountsWhatIsLeftOut) {
  Finished("/dev/ttyUSB0", 0);
  Finished("/dev/ttyUSB1", -9978);
  Finished("/dev/ttyUSB2", 1223).cancelled = true;
  for (int i = 0; i < 6; ++i)
    Running("/dev/ttyACM" + std::to_string(i), i);
  const auto lines = Lines({80, 8});  // room for four rows and the sum
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines.back(), "2 more running; 3 earlier: 1 ok, 1 failed, 1 cancelled");
  for (int i = 0; i < 4; ++i)
    EXPECT_NE(lines[2 + i].find("/dev/ttyACM" + std::to_string(i)), std::string::npos);
}

// Ports of any length keep the columns in line: a long name loses its start ("…" and its end),
// every row's result starts where the header's does, and a failure shows what its code means,
// cut to the room left.
TEST_F(PortTableTest, ColumnsStayInLineAndAFailureSaysWhatItMeans) {
  const std::string longPort = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  Running(longPort, 7);
  Finished("/dev/ttyUSB1", -9978).unit = 8;
  Finished("COM3", 0).unit = 9;
  for (const TerminalSize size : {TerminalSize{80, 24}, TerminalSize{160, 24}}) {
    const auto lines = Lines(size);
    ASSERT_EQ(lines.size(), 5u);
    for (const std::string& line : lines)
      EXPECT_LT(TextColumns(line), static_cast<std::size_t>(size.columns)) << line;
    const std::size_t result = lines[0].find("result");  // the header is ASCII
    ASSERT_NE(result, std::string::npos);
    // The running row's port lost its start: "…" is three bytes for one cell.
    EXPECT_EQ(lines[2].rfind("\u2026", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("-port0 "), std::string::npos) << lines[2];
    EXPECT_EQ(lines[2][result], '1') << lines[2];  // its attempt, right under "att"
    const std::string shown = lines[3].substr(result);
    const std::string failed = "failed -9978: " + device::ResultCodeMeaning(-9978);
    EXPECT_GE(TextColumns(shown), 24u) << lines[3];
    EXPECT_EQ(shown, CutRight(failed, TextColumns(shown))) << lines[3];
    EXPECT_EQ(lines[4].substr(result), "ok") << lines[4];
    EXPECT_NE(lines[4].find(" 9 "), std::string::npos) << lines[4];
  }
}

// The final summary keeps its columns in line whatever the ports' lengths; on a terminal every
// line fits its width (the port loses its start, the message its end), while a file or a pipe
// gets every message whole.
TEST_F(PortTableTest, SummaryFitsTheTerminalAndKeepsMessagesWholeElsewhere) {
  const std::string longPort = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  const std::string message = "downloaded 16384 bytes in 1.7 s (9444 bytes/s), verified";
  Finished(longPort, 0).message = message;
  Finished("COM3", -8540).answered = "boot v1.2.3.4";
  const std::vector<const PortRow*> rows = Rows();
  for (const int columns : {0, 80}) {
    std::stringstream out;
    PrintSummary(out, rows, columns);
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);)
      lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    const std::size_t answered = lines[0].find("answered");
    EXPECT_EQ(lines[2].find("boot v1.2.3.4"), answered) << lines[2];
    // The header is ASCII; the cut port starts with "…", three bytes for one cell.
    EXPECT_EQ(TextColumns(lines[1].substr(0, lines[1].find("-port0 "))), answered - 7) << lines[1];
    if (columns == 0) {
      EXPECT_EQ(lines[1].rfind(longPort, 0), 0u) << lines[1];
      EXPECT_NE(lines[1].find(message), std::string::npos) << lines[1];
    }
    for (const std::string& line : lines) {
      EXPECT_TRUE(columns == 0 || TextColumns(line) < static_cast<std::size_t>(columns)) << line;
    }
  }
}

TEST(TextFitTest, CutsByCharacterCells) {
  const struct {
    std::string text;
    std::size_t columns;
    std::string right;
    std::string left;
  } cases[] = {
      {"/dev/ttyUSB10", 20, "/dev/ttyUSB10", "/dev/ttyUSB10"},
      {"/dev/ttyUSB10", 8, "/dev/tt\u2026", "\u2026tyUSB10"},
      {"통신에러 -8540", 7, "통신에\u2026", "\u2026 -8540"},
      {"abc", 0, "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CutRight(c.text, c.columns), c.right) << c.text;
    EXPECT_EQ(CutLeft(c.text, c.columns), c.left) << c.text;
    EXPECT_LE(TextColumns(CutRight(c.text, c.columns)), c.columns);
  }
  EXPECT_EQ(TextColumns("통신에러"), 8u);
}

TEST(StatusLineTest, SaysWhatTheStationWaitsOn) {
  EXPECT_EQ(WaitingStatus("/dev/ttyUSB*", 0, 3), "waiting for devices on /dev/ttyUSB* (3 done)");
  EXPECT_EQ(WaitingStatus("usb:0403:6001", 10, 3),
            "waiting for devices on usb:0403:6001 (3 of 10 done)");
  EXPECT_EQ(StoppingStatus(2), "stopping: no new devices, 2 running (Ctrl+C again cancels them)");
}

}  // namespace
}  // namespace vantor::cli
