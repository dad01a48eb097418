// The production database over libpq (see database.h). Each call takes a connection of its own
// from the process's idle ones (the workers of a run at once use as many), making one when none
// is idle. A call whose connection was lost (a server restarted, a network that dropped) is made
// again on a new one, a few times within a bound (kRetryPauses), before it fails.
#include <libpq-fe.h>

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "production/database.h"
#include "production/database_url.h"
#include "serial/number_text.h"

namespace vantor::production {

namespace {

// Made in one transaction under an advisory lock: stations starting at once do not race.
constexpr const char* kSchema = R"sql(
SELECT pg_advisory_xact_lock(7411003);
CREATE TABLE IF NOT EXISTS vantor_schema (version integer NOT NULL);
INSERT INTO vantor_schema (version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM vantor_schema);
CREATE TABLE IF NOT EXISTS vantor_records (
  id text PRIMARY KEY,
  station text NOT NULL,
  port text NOT NULL,
  started timestamptz NOT NULL,
  finished timestamptz NOT NULL,
  code integer NOT NULL,
  unit numeric(20),
  record jsonb NOT NULL);
CREATE INDEX IF NOT EXISTS vantor_records_unit ON vantor_records (unit);
CREATE TABLE IF NOT EXISTS vantor_counters (name text PRIMARY KEY, next numeric(20) NOT NULL);
)sql";

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// The pauses before a call that lost its connection is made again: the first at once (an idle
// connection the server closed while it restarted), then two more while the server comes back.
// A unit waits seconds at most, never minutes, before its record goes to the spool or its
// number fails.
constexpr std::chrono::milliseconds kRetryPauses[] = {
    std::chrono::milliseconds(0), std::chrono::milliseconds(500), std::chrono::milliseconds(1500)};

class PqDatabase;

class PqCounter final : public UnitNumbers {
 public:
  PqCounter(std::shared_ptr<PqDatabase> db, std::string name, std::optional<std::uint64_t> start,
            std::uint64_t step)
      : m_db(std::move(db)), m_name(std::move(name)), m_start(start), m_step(step) {}
  bool Peek(std::uint64_t& number, std::string& error) override;
  bool Take(const Fits& fits, std::uint64_t& number, std::string& error) override;

 private:
  std::shared_ptr<PqDatabase> m_db;
  std::string m_name;
  std::optional<std::uint64_t> m_start;
  std::uint64_t m_step;
};

class PqDatabase final : public ProductionDatabase,
                         public std::enable_shared_from_this<PqDatabase> {
 public:
  explicit PqDatabase(std::string url) : m_url(std::move(url)) {}
  ~PqDatabase() override {
    for (PGconn* c : m_idle)
      PQfinish(c);
  }

  bool Connect(std::string& error) override {
    return Call([](PGconn*, std::string&) { return true; }, error);
  }

  // Safe to repeat: the record's id is the key. A retry after an insert whose reply was lost
  // finds the record there (`added` false).
  bool Insert(const std::string& line, const RecordSummary& s, bool& added,
              std::string& error) override {
    return Call([&](PGconn* c, std::string& e) { return InsertOnce(c, line, s, added, e); }, error);
  }

  bool ReadAll(std::vector<RecordSummary>& records, std::string& error) override {
    std::vector<RecordSummary> read;
    if (!Call([&](PGconn* c, std::string& e) { return ReadAllOnce(c, read, e); }, error))
      return false;
    records.insert(records.end(), read.begin(), read.end());
    return true;
  }

  std::shared_ptr<UnitNumbers> Counter(const std::string& name, std::optional<std::uint64_t> start,
                                       std::uint64_t step) override {
    return std::make_shared<PqCounter>(shared_from_this(), name, start, step);
  }

  // The counter's next number in a transaction; with `fits`, it is taken (the counter moved on
  // and committed) when `fits` accepts it. Safe to repeat: a number is used only once its
  // COMMIT answered, so a transaction lost with its connection, committed or not, is never used;
  // the repeat reads the counter again (a number committed without its answer is skipped).
  bool Next(const std::string& name, std::optional<std::uint64_t> start, std::uint64_t step,
            const UnitNumbers::Fits* fits, std::uint64_t& number, std::string& error) {
    return Call(
        [&](PGconn* c, std::string& e) { return NextOnce(c, name, start, step, fits, number, e); },
        error);
  }

 private:
  // `once` on a connection; made again on a new connection while it fails because the
  // connection was lost (or none could be made), with kRetryPauses between. Any other failure
  // (a refused statement, a schema of another version) ends it at once.
  template <typename Once>
  bool Call(Once once, std::string& error) {
    for (std::size_t attempt = 0;; ++attempt) {
      bool lost = false;
      {
        Lease c(*this);
        if (c.Open(error, lost)) {
          if (once(c, error))
            return true;
          lost = PQstatus(c) != CONNECTION_OK;
        }
      }
      if (!lost)
        return false;
      if (attempt == std::size(kRetryPauses)) {
        error += " (tried " + std::to_string(attempt + 1) + " times)";
        return false;
      }
      // Connections made before the loss went with it, most likely: none is tried again.
      DropIdle();
      std::this_thread::sleep_for(kRetryPauses[attempt]);
    }
  }

  bool InsertOnce(PGconn* c, const std::string& line, const RecordSummary& s, bool& added,
                  std::string& error) {
    const std::string unit = s.unit ? std::to_string(*s.unit) : std::string();
    const std::string code = std::to_string(s.code);
    const std::string started = std::to_string(s.startedMs / 1000.0);
    const std::string finished = std::to_string(s.finishedMs / 1000.0);
    const char* values[] = {s.id.c_str(),
                            s.station.c_str(),
                            s.port.c_str(),
                            started.c_str(),
                            finished.c_str(),
                            code.c_str(),
                            s.unit ? unit.c_str() : nullptr,
                            line.c_str()};
    Result r(PQexecParams(c,
                          "INSERT INTO vantor_records (id, station, port, started, finished, "
                          "code, unit, record) VALUES ($1, $2, $3, to_timestamp($4), "
                          "to_timestamp($5), $6, $7, $8) ON CONFLICT (id) DO NOTHING",
                          8, nullptr, values, nullptr, nullptr, 0));
    if (!Ok(c, r.get(), PGRES_COMMAND_OK, error))
      return false;
    added = std::string(PQcmdTuples(r.get())) == "1";
    return true;
  }

  bool ReadAllOnce(PGconn* c, std::vector<RecordSummary>& records, std::string& error) {
    records.clear();  // what a lost attempt read
    // "sent" from the line itself (no column of its own), read as SummarizeRecordLine reads it.
    Result r(PQexec(c,
                    "SELECT id, port, (extract(epoch FROM started) * 1000)::bigint, "
                    "(extract(epoch FROM finished) * 1000)::bigint, code, unit::text, station, "
                    "(record->>'sent')::boolean FROM vantor_records ORDER BY started, id"));
    if (!Ok(c, r.get(), PGRES_TUPLES_OK, error))
      return false;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      RecordSummary s;
      s.id = PQgetvalue(r.get(), i, 0);
      s.port = PQgetvalue(r.get(), i, 1);
      const auto started = serial::ParseNumber<std::int64_t>(PQgetvalue(r.get(), i, 2));
      const auto finished = serial::ParseNumber<std::int64_t>(PQgetvalue(r.get(), i, 3));
      const auto code = serial::ParseNumber<std::int32_t>(PQgetvalue(r.get(), i, 4));
      if (!started || !finished || !code) {
        error = "database: the record " + s.id + " has no times or no result code";
        return false;
      }
      s.startedMs = *started;
      s.finishedMs = *finished;
      s.code = *code;
      if (!PQgetisnull(r.get(), i, 5))
        s.unit = serial::ParseNumber<std::uint64_t>(PQgetvalue(r.get(), i, 5));
      s.station = PQgetvalue(r.get(), i, 6);
      s.sent =
          WasSent(PQgetisnull(r.get(), i, 7)
                      ? std::nullopt
                      : std::optional<bool>(std::string_view(PQgetvalue(r.get(), i, 7)) == "t"),
                  s.code);
      records.push_back(std::move(s));
    }
    return true;
  }

  bool NextOnce(PGconn* c, const std::string& name, std::optional<std::uint64_t> start,
                std::uint64_t step, const UnitNumbers::Fits* fits, std::uint64_t& number,
                std::string& error) {
    if (!Command(c, "BEGIN", error))
      return false;
    const bool done = NextInTransaction(c, name, start, step, fits, number, error);
    std::string ignored;
    if (!done) {
      Command(c, "ROLLBACK", ignored);
      return false;
    }
    // Only a committed number is used: a lost reply to COMMIT leaves a gap, never a repeat.
    return Command(c, "COMMIT", error);
  }

  bool NextInTransaction(PGconn* c, const std::string& name, std::optional<std::uint64_t> start,
                         std::uint64_t step, const UnitNumbers::Fits* fits, std::uint64_t& number,
                         std::string& error) {
    const char* key[] = {name.c_str()};
    if (start) {
      // The row first, so that FOR UPDATE below has a row to lock: two stations making the
      // counter at once then wait for each other instead of both reading "none".
      const std::string first = std::to_string(*start);
      const char* values[] = {name.c_str(), first.c_str()};
      Result made(PQexecParams(c,
                               "INSERT INTO vantor_counters (name, next) VALUES ($1, $2) "
                               "ON CONFLICT (name) DO NOTHING",
                               2, nullptr, values, nullptr, nullptr, 0));
      if (!Ok(c, made.get(), PGRES_COMMAND_OK, error))
        return false;
    }
    Result r(PQexecParams(c, "SELECT next::text FROM vantor_counters WHERE name = $1 FOR UPDATE", 1,
                          nullptr, key, nullptr, nullptr, 0));
    if (!Ok(c, r.get(), PGRES_TUPLES_OK, error))
      return false;
    std::optional<std::uint64_t> stored;
    if (PQntuples(r.get()) == 1)
      stored = serial::ParseNumber<std::uint64_t>(PQgetvalue(r.get(), 0, 0));
    if (!stored && !start) {
      error = "the database has no unit counter '" + name + "' yet: give --serial-start";
      return false;
    }
    number = stored && (!start || *stored >= *start) ? *stored : *start;
    if (!fits)
      return true;
    if (!(*fits)(number, error))
      return false;
    if (number > UINT64_MAX - step) {
      error = "the unit counter '" + name + "' is at its end";
      return false;
    }
    const std::string next = std::to_string(number + step);
    const char* values[] = {name.c_str(), next.c_str()};
    Result u(PQexecParams(c, "UPDATE vantor_counters SET next = $2 WHERE name = $1", 2, nullptr,
                          values, nullptr, nullptr, 0));
    return Ok(c, u.get(), PGRES_COMMAND_OK, error);
  }

  // A connection for one call (each worker its own at a time): an idle one, or a new one.
  class Lease {
   public:
    explicit Lease(PqDatabase& db) : m_db(db) {}
    ~Lease() {
      if (m_c)
        m_db.GiveBack(m_c);
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    // False with `error`; `lost` tells that no connection could be made (or it broke at once).
    bool Open(std::string& error, bool& lost) { return (m_c = m_db.Take(error, lost)) != nullptr; }
    operator PGconn*() const { return m_c; }

   private:
    PqDatabase& m_db;
    PGconn* m_c = nullptr;
  };

  PGconn* Take(std::string& error, bool& lost) {
    {
      std::lock_guard lock(m_mutex);
      if (!m_idle.empty()) {
        PGconn* c = m_idle.back();
        m_idle.pop_back();
        return c;
      }
    }
    // Defaults the URL may override: a bounded wait for a server that does not answer.
    const char* keys[] = {"connect_timeout", "tcp_user_timeout", "dbname", nullptr};
    const char* values[] = {"5", "10000", m_url.c_str(), nullptr};
    PGconn* c = PQconnectdbParams(keys, values, 1);
    if (PQstatus(c) != CONNECTION_OK) {
      error =
          "cannot reach the database " + MaskPassword(m_url) + ": " + Trimmed(PQerrorMessage(c));
      lost = true;
      PQfinish(c);
      return nullptr;
    }
    // A transaction whose connection died unseen (a network that dropped) holds the counter's
    // row lock on the server: it ends after 10 s idle, and a unit waits for a lock 10 s at most.
    Result quiet(PQexec(c,
                        "SET client_min_messages = warning; SET lock_timeout = '10s'; "
                        "SET idle_in_transaction_session_timeout = '10s'"));
    Result v;
    if (!Command(c, kSchema, error) ||
        !Ok(c, (v = Result(PQexec(c, "SELECT max(version) FROM vantor_schema"))).get(),
            PGRES_TUPLES_OK, error)) {
      lost = PQstatus(c) != CONNECTION_OK;
      PQfinish(c);
      return nullptr;
    }
    const auto version = serial::ParseNumber<int>(PQgetvalue(v.get(), 0, 0));
    if (version != kSchemaVersion) {
      error = "the database's schema is version " +
              (version ? std::to_string(*version) : std::string("unknown")) +
              "; this vantor knows version " + std::to_string(kSchemaVersion);
      PQfinish(c);
      return nullptr;
    }
    return c;
  }

  // A connection that broke, or was left inside a transaction, is not used again.
  void GiveBack(PGconn* c) {
    if (PQstatus(c) != CONNECTION_OK || PQtransactionStatus(c) != PQTRANS_IDLE) {
      PQfinish(c);
      return;
    }
    std::lock_guard lock(m_mutex);
    m_idle.push_back(c);
  }

  void DropIdle() {
    std::lock_guard lock(m_mutex);
    for (PGconn* c : m_idle)
      PQfinish(c);
    m_idle.clear();
  }

  // A command without rows; the schema's statements run as one transaction (one string).
  bool Command(PGconn* c, const char* sql, std::string& error) const {
    Result r(PQexec(c, sql));
    return Ok(c, r.get(), PGRES_COMMAND_OK, error);
  }

  bool Ok(PGconn* c, PGresult* r, ExecStatusType expected, std::string& error) const {
    if (r != nullptr && PQresultStatus(r) == expected)
      return true;
    std::string text = Trimmed(r ? PQresultErrorMessage(r) : "");
    if (text.empty())
      text = Trimmed(PQerrorMessage(c));
    error = "database: " + text;
    return false;
  }

  // A libpq message without its line end, any password of the URL that it echoes masked.
  std::string Trimmed(const char* text) const {
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
      s.pop_back();
    return MaskPasswordsIn(s, m_url);
  }

  const std::string m_url;
  std::mutex m_mutex;  // guards m_idle
  std::vector<PGconn*> m_idle;
};

bool PqCounter::Peek(std::uint64_t& number, std::string& error) {
  return m_db->Next(m_name, m_start, m_step, nullptr, number, error);
}

bool PqCounter::Take(const Fits& fits, std::uint64_t& number, std::string& error) {
  return m_db->Next(m_name, m_start, m_step, &fits, number, error);
}

}  // namespace

bool ProductionDatabase::BuiltIn() {
  return true;
}

std::shared_ptr<ProductionDatabase> ProductionDatabase::Open(const std::string& url) {
  return std::make_shared<PqDatabase>(url);
}

}  // namespace vantor::production
