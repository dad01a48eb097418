// The production database against a real PostgreSQL server (the test cluster the CTest fixture
// starts under the build folder): two stations at once drawing unit numbers from it, a server
// stopped in the middle of a run (records spooled, then imported once), a server restarted
// between two units (the lost connection made again), a station that needs the database for
// numbers refusing to start without it, one that only records starting, an import of a port
// name that is not UTF-8 from a file with a torn last line, and the station's name kept.
#include <libpq-fe.h>

#include <set>

#include "production/database.h"
#include "production/record.h"
#include "support/station_rig.h"

namespace vantor::cli {
namespace {

using namespace rig;
using devsim::DeviceEvent;
using devsim::DeviceOptions;
using production::DeviceRecord;
using production::FormatRecord;
using production::ProductionDatabase;
using production::RecordSummary;
using production::SummarizeRecord;
using production::SummarizeRecordLine;
using vantor::testing::PatternBytes;
using vantor::testing::ReadFileText;
using vantor::testing::WriteFileText;

std::string ReadLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

int CountLines(const std::string& path) {
  std::ifstream in(path);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    count += !line.empty();
  return count;
}

// Each test in a database of its own on the shared test server.
class DatabaseTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    const std::string admin = ReadLine(fs::path(VANTOR_PG_DIR) / "url");
    if (admin.empty())
      GTEST_SKIP() << "no PostgreSQL test server (" VANTOR_PG_DIR
                      "/url): the server's programs (/usr/lib/postgresql/*/bin) are missing, or "
                      "the test ran outside ctest, whose fixture starts the server";
    const std::string name =
        "t_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string lower;
    for (const char c : name)
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    PGconn* c = PQconnectdb(admin.c_str());
    ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
    PQclear(PQexec(c, "SET client_min_messages = warning"));
    PQclear(PQexec(c, ("DROP DATABASE IF EXISTS " + lower).c_str()));
    PGresult* r = PQexec(c, ("CREATE DATABASE " + lower).c_str());
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
    m_url = admin;
    m_url.replace(m_url.find("/postgres?"), 10, "/" + lower + "?");
  }

  static void Server(const char* verb) {
    const std::string command = std::string(VANTOR_PG_SCRIPT) + " " + verb + " " + VANTOR_PG_DIR;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  std::vector<RecordSummary> Table() {
    std::vector<RecordSummary> records;
    std::string error;
    EXPECT_TRUE(ProductionDatabase::Open(m_url)->ReadAll(records, error)) << error;
    return records;
  }

  int Vantor(std::vector<std::string> args, std::string& output) {
    const std::string out = (m_dir / "vantor.txt").string();
    std::string command = VANTOR_BINARY;
    for (const auto& a : args)
      command += " '" + a + "'";
    command += " >" + out + " 2>&1";
    const int status = std::system(command.c_str());
    output = ReadFileText(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::uint32_t NumberIn(std::size_t index) {
    std::vector<std::uint8_t> bytes;
    m_devices[index]->With(
        [&](devsim::Device& d) { bytes = d.ReadMemory(kRigBootAddress + 0x20, 4); });
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  }

  std::string m_url;
};

// Two stations of ten devices each at once on one counter in the database: every unit gets a
// number of its own, the numbers run without a gap, every record is in the table.
TEST_F(DatabaseTest, TwoStationsAtOnceShareOneCounter) {
  const auto bytes = PatternBytes(2048, 21);
  const std::string image = Image(bytes);
  constexpr std::size_t kPerStation = 10;
  for (std::size_t i = 0; i < 2 * kPerStation; ++i)
    AddDevice();
  std::vector<pid_t> stations;
  for (const char* rig : {"a", "b"}) {
    const std::string record = (m_dir / (std::string(rig) + ".jsonl")).string();
    stations.push_back(
        Spawn({"--count", std::to_string(kPerStation), "--no-redetect", "--verify", "--database",
               m_url, "--serial", "0x100020:4:le", "--serial-start", "1000", "--record", record,
               "--spool", (m_dir / (std::string(rig) + ".spool")).string(), "BOOT=" + image},
              rig, rig));
  }
  // Devices appear on both at once, a few at a time.
  for (std::size_t i = 0; i < kPerStation; ++i) {
    LinkInto("a", i);
    LinkInto("b", kPerStation + i);
    if (i % 3 == 2)
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  for (pid_t& pid : stations)
    EXPECT_EQ(Finish(pid, std::chrono::milliseconds(60000)), 0)
        << Output("outa.txt") << Output("erra.txt") << Output("outb.txt") << Output("errb.txt");

  std::set<std::uint32_t> inDevices;
  for (std::size_t i = 0; i < 2 * kPerStation; ++i)
    inDevices.insert(NumberIn(i));
  std::set<std::uint32_t> expected;
  for (std::uint32_t n = 1000; n < 1000 + 2 * kPerStation; ++n)
    expected.insert(n);
  EXPECT_EQ(inDevices, expected);

  const auto table = Table();
  std::set<std::string> ids;
  std::set<std::uint64_t> numbers;
  for (const RecordSummary& r : table) {
    ids.insert(r.id);
    EXPECT_EQ(r.code, 0);
    ASSERT_TRUE(r.unit);
    numbers.insert(*r.unit);
  }
  EXPECT_EQ(table.size(), 2 * kPerStation);
  EXPECT_EQ(numbers.size(), 2 * kPerStation);  // no number twice
  EXPECT_EQ(*numbers.begin(), 1000u);
  EXPECT_EQ(*numbers.rbegin(), 1000u + 2 * kPerStation - 1);  // and none skipped
  for (const char* rig : {"a", "b"}) {
    std::ifstream in(m_dir / (std::string(rig) + ".jsonl"));
    for (std::string line; std::getline(in, line);) {
      RecordSummary r;
      std::string error;
      ASSERT_TRUE(SummarizeRecordLine(line, r, error)) << error;
      EXPECT_TRUE(ids.count(r.id)) << r.id;
    }
    EXPECT_FALSE(fs::exists(m_dir / (std::string(rig) + ".spool")));
  }
  std::string report;
  EXPECT_EQ(Vantor({"report", "--database", m_url}, report), 0) << report;
  EXPECT_NE(report.find("unit numbers    1000 to 1019 (20 units)"), std::string::npos) << report;
}

// A port name that is not UTF-8 reads the same from the file and from the table after "record
// import"; a torn last line is named and skipped, the whole lines load.
TEST_F(DatabaseTest, ImportKeepsPortNamesAndSkipsATornLastLine) {
  DeviceRecord r;
  r.id = "latin1";
  r.started = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796877493125));
  r.finished = r.started + std::chrono::seconds(3);
  r.port = "/dev/tty\xff\xe9";
  r.code = -8540;
  const std::string path = (m_dir / "import.jsonl").string();
  WriteFileText(path, FormatRecord(r) + "\n" + FormatRecord(r).substr(0, 30));
  std::string output;
  ASSERT_EQ(Vantor({"record", "import", path, "--database", m_url}, output), 0) << output;
  EXPECT_NE(output.find(path + ":2: a torn line"), std::string::npos) << output;
  EXPECT_NE(output.find("1 record(s): 1 added"), std::string::npos) << output;
  const std::vector<RecordSummary> table = Table();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0], SummarizeRecord(r));
  EXPECT_EQ(table[0].port, "/dev/tty\u00ff\u00e9");
}

// The server stops while three devices are being written: they finish, their records wait in the
// spool and the station says so; loading the spool completes the table, loading it again adds
// nothing.
TEST_F(DatabaseTest, ServerStoppedMidRunSpoolsAndImportCompletesOnce) {
  DeviceOptions paced;
  paced.paced = true;  // about two seconds on the wire each
  const auto bytes = PatternBytes(20000, 4);
  const std::string image = Image(bytes);
  const std::string spool = (m_dir / "spool.jsonl").string();
  for (std::size_t i = 0; i < 3; ++i) {
    AddDevice(paced);
    Link(i);
  }
  Start({"--count", "3", "--no-redetect", "--database", m_url, "--serial", "0x100020:4",
         "--serial-start", "7", "--spool", spool, "BOOT=" + image});
  ASSERT_TRUE(WaitUntil([&] { return Writing(3); }, std::chrono::milliseconds(15000)));
  Server("halt");
  const int code = Finish(std::chrono::milliseconds(60000));
  Server("resume");
  EXPECT_EQ(code, 0) << Output() << Output("err.txt");
  EXPECT_NE(Output().find("3 record(s) spooled to " + spool), std::string::npos) << Output();
  EXPECT_NE(Output().find("done after 1 attempt(s), record spooled"), std::string::npos)
      << Output();
  EXPECT_EQ(CountLines(spool), 3);
  EXPECT_EQ(Table().size(), 0u);

  std::string output;
  ASSERT_EQ(Vantor({"record", "import", spool, "--database", m_url}, output), 0) << output;
  EXPECT_NE(output.find("3 record(s): 3 added, 0 already there"), std::string::npos) << output;
  ASSERT_EQ(Vantor({"record", "import", spool, "--database", m_url}, output), 0) << output;
  EXPECT_NE(output.find("3 record(s): 0 added, 3 already there"), std::string::npos) << output;
  std::set<std::uint64_t> numbers;
  for (const RecordSummary& r : Table())
    numbers.insert(r.unit.value_or(0));
  EXPECT_EQ(numbers, (std::set<std::uint64_t>{7, 8, 9}));
}

// The server restarts between two units: the station's connection is lost with it and made
// again, so the second unit gets the next number and its record goes into the table, not to
// the spool. Every record carries the station's name.
TEST_F(DatabaseTest, ServerRestartedBetweenUnitsLosesNothing) {
  const auto bytes = PatternBytes(1024, 9);
  const std::string image = Image(bytes);
  const std::string spool = (m_dir / "spool.jsonl").string();
  AddDevice();
  AddDevice();
  Link(0);
  Start({"--count", "2", "--no-redetect", "--database", m_url, "--serial", "0x100020:4",
         "--serial-start", "1", "--spool", spool, "--record", Record(), "--station-name", "line-7",
         "BOOT=" + image});
  // The first unit's record is in the table before the server goes.
  ASSERT_TRUE(WaitUntil([&] { return Table().size() == 1; }, std::chrono::milliseconds(30000)))
      << Output() << Output("err.txt");
  Server("halt");
  Server("resume");
  Link(1);
  EXPECT_EQ(Finish(), 0) << Output() << Output("err.txt");
  EXPECT_EQ(Output().find("spooled"), std::string::npos) << Output();
  EXPECT_FALSE(fs::exists(spool));
  EXPECT_EQ(NumberIn(0), 1u);
  EXPECT_EQ(NumberIn(1), 2u);
  const auto table = Table();
  ASSERT_EQ(table.size(), 2u);
  for (const RecordSummary& r : table) {
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.station, "line-7");
  }
  for (const auto& line : RecordLines())
    EXPECT_EQ(line.at("station"), "line-7");
}

// In one process: a restart between two calls is taken in stride; with the server down for
// longer than the calls try, a number and a record each fail with the reason, and nothing is
// handed out; once it is back, numbering goes on where it was.
TEST_F(DatabaseTest, CallsOutliveARestartAndFailCleanlyWhileTheServerIsDown) {
  const auto db = ProductionDatabase::Open(m_url);
  const auto numbers = db->Counter(production::kDefaultCounterName, 1, 1);
  const auto fits = [](std::uint64_t, std::string&) { return true; };
  DeviceRecord r;
  r.started = std::chrono::system_clock::now();
  r.finished = r.started;
  r.station = "line-2";
  std::string error;
  std::uint64_t number = 0;
  ASSERT_TRUE(numbers->Take(fits, number, error)) << error;
  EXPECT_EQ(number, 1u);

  Server("halt");
  Server("resume");
  ASSERT_TRUE(numbers->Take(fits, number, error)) << error;
  EXPECT_EQ(number, 2u);
  bool added = false;
  r.id = "after-restart";
  ASSERT_TRUE(db->Insert(FormatRecord(r), SummarizeRecord(r), added, error)) << error;
  EXPECT_TRUE(added);

  Server("halt");
  const bool numbered = numbers->Take(fits, number, error);
  const std::string numberError = error;
  r.id = "while-down";
  const bool inserted = db->Insert(FormatRecord(r), SummarizeRecord(r), added, error);
  const std::string insertError = error;
  Server("resume");
  EXPECT_FALSE(numbered);
  EXPECT_FALSE(inserted);
  for (const std::string& e : {numberError, insertError}) {
    EXPECT_NE(e.find("cannot reach the database"), std::string::npos) << e;
    EXPECT_NE(e.find("(tried 4 times)"), std::string::npos) << e;
  }
  ASSERT_TRUE(numbers->Take(fits, number, error)) << error;
  EXPECT_EQ(number, 3u);
  const auto table = Table();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].station, "line-2");
}

// "record import" keeps the station that wrote each record: the name a station was given, and
// none (empty: unknown) for a line written before records named their station, never the name
// of the PC that imports them.
TEST_F(DatabaseTest, ImportKeepsTheStationThatWroteEachRecord) {
  const auto bytes = PatternBytes(512, 5);
  const std::string image = Image(bytes);
  AddDevice();
  Link(0);
  Start({"--count", "1", "--no-redetect", "--record", Record(), "--station-name", "east 3",
         "BOOT=" + image});
  ASSERT_EQ(Finish(), 0) << Output() << Output("err.txt");
  ASSERT_EQ(RecordLines().size(), 1u);
  EXPECT_EQ(RecordLines()[0].at("station"), "east 3");
  DeviceRecord old;
  old.id = "old";
  old.started = std::chrono::system_clock::now();
  old.finished = old.started;
  std::string oldLine = FormatRecord(old);
  oldLine.erase(oldLine.find("\"station\":\"\","), 13);
  ASSERT_EQ(oldLine.find("station"), std::string::npos) << oldLine;
  std::ofstream(Record(), std::ios::app) << oldLine << "\n";

  std::string output;
  ASSERT_EQ(Vantor({"record", "import", Record(), "--database", m_url}, output), 0) << output;
  std::map<std::string, std::string> stations;
  for (const RecordSummary& r : Table())
    stations[r.id == "old" ? "old" : "station"] = r.station;
  EXPECT_EQ(stations, (std::map<std::string, std::string>{{"old", ""}, {"station", "east 3"}}));
}

// With the server down: a station whose numbers come from it does not start (exit 2, nothing
// sent); one that only records starts, flashes, and spools.
TEST_F(DatabaseTest, ServerDownAtStart) {
  const auto bytes = PatternBytes(1024, 8);
  const std::string image = Image(bytes);
  const std::string spool = (m_dir / "spool.jsonl").string();
  AddDevice();
  Link(0);
  Server("halt");
  Start({"--count", "1", "--no-redetect", "--database", m_url, "--serial", "0x100020:4",
         "--serial-start", "1", "--spool", spool, "BOOT=" + image});
  const int refused = Finish();
  Start({"--count", "1", "--no-redetect", "--database", m_url, "--spool", spool, "BOOT=" + image});
  const int recorded = Finish();
  Server("resume");
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(recorded, 0) << Output() << Output("err.txt");
  EXPECT_NE(Output("err.txt").find("cannot reach the database"), std::string::npos)
      << Output("err.txt");
  EXPECT_TRUE(Holds(*m_devices[0], bytes));
  EXPECT_EQ(Sessions(*m_devices[0]), 1);  // the refused station sent nothing
  EXPECT_EQ(CountLines(spool), 1);
}

}  // namespace
}  // namespace vantor::cli
