// The production station in-process, through its observer, against simulated devices whose
// pseudo-terminals are linked into a folder the station's pattern globs: several devices at
// once, a device that appears while others run, stop (the running finish, no new one starts),
// cancel (the running are cancelled and recorded), the end after a count, and a failing device
// with its retries. The test waits on the observer's events, each wait bounded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/result_codes.h"
#include "devsim/pty_transport.h"
#include "production/production_report.h"
#include "production/record.h"
#include "production/station.h"
#include "support/test_files.h"

namespace vantor::production {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kBound = 30s;

// Writes down what the station tells and lets the test wait for it.
class EventLog final : public StationObserver {
 public:
  struct Device {
    bool appeared = false;
    int percent = 0;
    std::vector<int> attempts;
    bool finished = false;
    bool ok = false;
    bool cancelled = false;
    std::int32_t code = 0;
    int attempt = 0;  // as the row says when the device finished
    std::string answered;
    std::string recordError;
  };

  void Watching(const StationSettings&) override {
    Change([&] { m_watching = true; });
  }
  void Appeared(const PortRow& row) override {
    Change([&] { m_devices[row.port].appeared = true; });
  }
  void Changed(const PortRow& row, RowChange change) override {
    Change([&] {
      Device& d = m_devices[row.port];
      d.percent = std::max(d.percent, row.percent);
      if (change == RowChange::kAttempt)
        d.attempts.push_back(row.attempt);
    });
  }
  void Finished(const PortRow& row) override {
    Change([&] {
      Device& d = m_devices[row.port];
      d.finished = true;
      d.ok = row.ok;
      d.cancelled = row.cancelled;
      d.code = row.code.value_or(-1);
      d.attempt = row.attempt;
      d.answered = row.answered;
      d.recordError = row.recordError;
    });
  }
  void Stopping(std::size_t running) override {
    Change([&] { m_stoppingWith = static_cast<int>(running); });
  }
  void Waited() override {
    Change([&] { ++m_waits; });
  }
  void Ended(const StationTotals& totals, const std::vector<const PortRow*>& rows) override {
    Change([&] {
      m_totals = totals;
      m_rows = rows.size();
      m_ended = true;
    });
  }

  // Waits (bounded) until `ready` holds over the devices; false on the bound.
  template <typename Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kBound, [&] { return ready(m_devices); });
  }
  bool WaitForStopping() {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kBound, [&] { return m_stoppingWith >= 0; });
  }
  // Waits (bounded) until the station woke `count` more times: with nothing running it wakes for
  // each scan, so a few wakes take in a change of the ports.
  bool WaitForWakes(int count) {
    std::unique_lock lock(m_mutex);
    const int until = m_waits + count;
    return m_changed.wait_for(lock, kBound, [&] { return m_waits >= until; });
  }
  bool WaitForWatching() {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kBound, [&] { return m_watching; });
  }
  Device device(const std::string& port) {
    std::lock_guard lock(m_mutex);
    return m_devices[port];
  }
  std::size_t appeared() {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(m_devices.begin(), m_devices.end(),
                                                  [](const auto& d) { return d.second.appeared; }));
  }
  int stoppingWith() {
    std::lock_guard lock(m_mutex);
    return m_stoppingWith;
  }
  StationTotals totals() {
    std::lock_guard lock(m_mutex);
    return m_totals;
  }
  std::size_t rows() {
    std::lock_guard lock(m_mutex);
    return m_rows;
  }

 private:
  template <typename Apply>
  void Change(Apply apply) {
    {
      std::lock_guard lock(m_mutex);
      apply();
    }
    m_changed.notify_all();
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::map<std::string, Device> m_devices;
  bool m_watching = false;
  int m_stoppingWith = -1;
  int m_waits = 0;
  StationTotals m_totals;
  std::size_t m_rows = 0;
  bool m_ended = false;
};

// A folder the station watches, simulated devices linked into it, and a job of one segment.
class StationEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseImage(3000);
    m_job.redetect = false;
    m_job.record = [this](const device::JobOutcome& outcome) {
      std::lock_guard lock(m_recordMutex);
      m_recorded[outcome.port] = outcome;
      return device::RecordResult{};
    };
  }
  // Before the folder goes with the fixture, so no device is linked into it any more.
  void TearDown() override { m_devices.clear(); }

  void UseImage(std::size_t bytes) {
    auto segments = std::make_shared<protocol::SegmentList>();
    protocol::Segment boot;
    boot.address = 0x100000;
    boot.data.assign(bytes, 0x5A);
    boot.length = static_cast<std::int32_t>(boot.data.size());
    protocol::InsertSegment(*segments, boot);
    m_job.segments = segments;
  }

  // Starts a device and links it into the folder as `name`; returns the linked path.
  std::string AddDevice(const std::string& name, devsim::DeviceOptions options = {}) {
    auto device = devsim::PtyDevice::Start(options);
    if (!device) {
      ADD_FAILURE() << "no pseudo-terminal";
      return {};
    }
    const fs::path link = m_dir / name;
    fs::create_symlink(device->path(), link);
    m_devices.push_back(std::move(device));
    return link.string();
  }
  devsim::PtyDevice& Device(std::size_t index) { return *m_devices.at(index); }
  // Unplugs the device linked as `port` and plugs it in again (the link gone, then back).
  void Unplug(const std::string& port) { fs::remove(port); }
  void PlugIn(const std::string& port, std::size_t index) {
    fs::create_symlink(Device(index).path(), port);
  }

  StationSettings Settings(int count = 0) const {
    StationSettings settings;
    settings.match = (m_dir / "dev*").string();
    settings.count = count;
    return settings;
  }

  std::optional<device::JobOutcome> Recorded(const std::string& port) {
    std::lock_guard lock(m_recordMutex);
    const auto it = m_recorded.find(port);
    if (it == m_recorded.end())
      return std::nullopt;
    return it->second;
  }

  // Runs the station on a thread of its own while `drive` runs here; returns its totals.
  template <typename Drive>
  StationTotals RunWhile(Station& station, Drive drive) {
    StationTotals totals;
    std::thread runner([&] { totals = station.Run(); });
    drive();
    runner.join();
    return totals;
  }

  vantor::testing::TempFolder m_folder;
  const fs::path m_dir = m_folder.path();
  device::Job m_job;
  std::vector<std::unique_ptr<devsim::PtyDevice>> m_devices;
  std::mutex m_recordMutex;
  std::map<std::string, device::JobOutcome> m_recorded;
};

// Three devices at once and a fourth that appears while they run: every one is flashed and
// recorded, and the station ends once the count of four has finished.
TEST_F(StationEngineTest, FlashesSeveralAtOnceAndOneThatAppearsWhileRunning) {
  UseImage(20000);
  devsim::DeviceOptions paced;
  paced.paced = true;  // each device takes long enough that the others run beside it
  std::vector<std::string> ports;
  for (const char* name : {"dev0", "dev1", "dev2"})
    ports.push_back(AddDevice(name, paced));
  EventLog log;
  Station station(Settings(4), m_job, log);
  const StationTotals totals = RunWhile(station, [&] {
    // All three are at work together before the fourth appears.
    ASSERT_TRUE(log.WaitFor([&](auto& devices) {
      return std::all_of(ports.begin(), ports.end(), [&](const std::string& p) {
        return devices[p].percent > 0 && !devices[p].finished;
      });
    }));
    ports.push_back(AddDevice("dev3"));
  });
  EXPECT_EQ(totals.devices, 4);
  EXPECT_EQ(totals.succeeded, 4);
  EXPECT_EQ(log.rows(), 4u);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    SCOPED_TRACE(ports[i]);
    EXPECT_TRUE(log.device(ports[i]).ok);
    ASSERT_TRUE(Recorded(ports[i]));
    EXPECT_TRUE(Recorded(ports[i])->last.ok);
    Device(i).With([&](devsim::Device& d) {
      EXPECT_EQ(d.ReadMemory(0x100000, 3000), std::vector<std::uint8_t>(3000, 0x5A));
    });
  }
}

// Stop while a device runs: it finishes and is recorded; a device that appears afterwards is
// left alone, and the station ends without a count.
TEST_F(StationEngineTest, StopLetsTheRunningFinishAndTakesNoNewDevice) {
  UseImage(20000);
  devsim::DeviceOptions paced;
  paced.paced = true;
  const std::string first = AddDevice("dev0", paced);
  EventLog log;
  Station station(Settings(), m_job, log);
  const StationTotals totals = RunWhile(station, [&] {
    ASSERT_TRUE(log.WaitFor([&](auto& devices) { return devices[first].percent > 0; }));
    station.Stop();
    ASSERT_TRUE(log.WaitForStopping());
    AddDevice("dev1");
  });
  EXPECT_EQ(log.stoppingWith(), 1);
  EXPECT_EQ(totals.devices, 1);
  EXPECT_EQ(totals.succeeded, 1);
  EXPECT_TRUE(log.device(first).ok);
  EXPECT_TRUE(Recorded(first));
  EXPECT_EQ(log.appeared(), 1u);
}

// Cancel while two devices run: both end cancelled, both are recorded, and the station ends.
TEST_F(StationEngineTest, CancelEndsTheRunningAndRecordsThem) {
  UseImage(120000);
  devsim::DeviceOptions paced;
  paced.paced = true;
  const std::string first = AddDevice("dev0", paced);
  const std::string second = AddDevice("dev1", paced);
  EventLog log;
  Station station(Settings(), m_job, log);
  const auto began = std::chrono::steady_clock::now();
  const StationTotals totals = RunWhile(station, [&] {
    ASSERT_TRUE(log.WaitFor(
        [&](auto& devices) { return devices[first].percent > 0 && devices[second].percent > 0; }));
    station.Cancel();
  });
  // 120000 bytes at 115200 bit/s take over ten seconds: the cancel cut them short.
  EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
  EXPECT_EQ(totals.devices, 2);
  EXPECT_EQ(totals.cancelled, 2);
  EXPECT_EQ(totals.succeeded, 0);
  for (const std::string& port : {first, second}) {
    SCOPED_TRACE(port);
    EXPECT_TRUE(log.device(port).cancelled);
    EXPECT_EQ(log.device(port).code, serial::kErrorCancelled);
    ASSERT_TRUE(Recorded(port));
    EXPECT_FALSE(Recorded(port)->last.ok);
  }
}

// With a count of two and three devices present, two are flashed and the station ends; the
// third never starts.
TEST_F(StationEngineTest, EndsAfterTheCount) {
  const std::vector<std::string> ports{AddDevice("dev0"), AddDevice("dev1"), AddDevice("dev2")};
  EventLog log;
  Station station(Settings(2), m_job, log);
  const StationTotals totals = station.Run();
  EXPECT_EQ(totals.devices, 2);
  EXPECT_EQ(totals.succeeded, 2);
  EXPECT_EQ(log.appeared(), 2u);
  EXPECT_EQ(log.rows(), 2u);
  EXPECT_FALSE(Recorded(ports[2]));
}

// Retries: a device that refuses a frame once is flashed on its second attempt; one that always
// refuses fails after every attempt, is recorded as failed, and counts as failed.
TEST_F(StationEngineTest, RetriesAFailingDevice) {
  m_job.retries = 2;
  devsim::DeviceOptions once;
  once.refuseSegment = 0;
  once.refuseFrame = 1;
  once.refuseOnce = true;
  devsim::DeviceOptions always = once;
  always.refuseOnce = false;
  const std::string recovers = AddDevice("dev0", once);
  const std::string fails = AddDevice("dev1", always);
  EventLog log;
  Station station(Settings(2), m_job, log);
  const StationTotals totals = station.Run();
  EXPECT_EQ(totals.devices, 2);
  EXPECT_EQ(totals.succeeded, 1);
  EXPECT_EQ(totals.failed, 1);
  EXPECT_EQ(log.device(recovers).attempts, (std::vector<int>{1, 2}));
  EXPECT_TRUE(log.device(recovers).ok);
  EXPECT_EQ(log.device(fails).attempts, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(log.device(fails).ok);
  EXPECT_NE(log.device(fails).code, 0);
  ASSERT_TRUE(Recorded(fails));
  EXPECT_EQ(Recorded(fails)->attempts, 3);
  EXPECT_FALSE(Recorded(fails)->last.ok);
}

// --skip-present: a device present at start is left alone while one that appears later is
// flashed at once; once the first is unplugged and plugged in again, it is flashed too.
TEST_F(StationEngineTest, SkipPresentWaitsForADevicePresentAtStartToComeBack) {
  const std::string present = AddDevice("dev0");
  EventLog log;
  StationSettings settings = Settings(2);
  settings.skipPresent = true;
  settings.scanInterval = 20ms;
  Station station(settings, m_job, log);
  std::string later;
  const auto drive = [&] {
    ASSERT_TRUE(log.WaitForWatching());
    ASSERT_TRUE(log.WaitForWakes(5));
    later = AddDevice("dev1");
    ASSERT_TRUE(log.WaitFor([&](auto& devices) { return devices[later].finished; }));
    ASSERT_TRUE(log.WaitForWakes(5));
    EXPECT_FALSE(log.device(present).appeared);
    Unplug(present);
    ASSERT_TRUE(log.WaitForWakes(5));
    EXPECT_FALSE(log.device(present).appeared);
    PlugIn(present, 0);
  };
  const StationTotals totals = RunWhile(station, [&] {
    drive();
    if (HasFailure())
      station.Cancel();  // the count is not reached: end the station instead of waiting on it
  });
  EXPECT_EQ(totals.devices, 2);
  EXPECT_EQ(totals.succeeded, 2);
  EXPECT_TRUE(log.device(later).ok);
  EXPECT_TRUE(log.device(present).ok);
  ASSERT_TRUE(Recorded(present));
  Device(0).With([&](devsim::Device& d) {
    EXPECT_EQ(d.ReadMemory(0x100000, 3000), std::vector<std::uint8_t>(3000, 0x5A));
  });
}

// Stop before anything appeared: the station wakes at once and ends with nothing done.
TEST_F(StationEngineTest, StopWakesAnIdleStation) {
  EventLog log;
  StationSettings settings = Settings();
  settings.scanInterval = 10s;  // only the stop can end the wait in time
  Station station(settings, m_job, log);
  const auto began = std::chrono::steady_clock::now();
  const StationTotals totals = RunWhile(station, [&] {
    ASSERT_TRUE(log.WaitForWatching());
    station.Stop();
  });
  EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
  EXPECT_EQ(totals.devices, 0);
  EXPECT_EQ(log.stoppingWith(), 0);
}

// The record file and the report read back: a verify that finds the device's memory different is
// recorded with a code of its own (not -1, the text command's time-out), every attempt's code is
// kept, and the report counts it under that code. The row says what the record says.
TEST_F(StationEngineTest, AVerifyMismatchIsRecordedAndReportedWithItsOwnCode) {
  m_job.verify = true;
  m_job.retries = 1;
  const std::string record = (m_dir / "record.jsonl").string();
  m_job.record = MakeRecorder({record, nullptr, "", "line3"}, {}, true);
  devsim::DeviceOptions corrupting;
  corrupting.corruptAddress = 0x100010;
  const std::string port = AddDevice("dev0", corrupting);
  EventLog log;
  Station station(Settings(1), m_job, log);
  const StationTotals totals = station.Run();
  EXPECT_EQ(totals.failed, 1);
  EXPECT_EQ(log.device(port).code, device::kErrorVerifyDiffers);
  EXPECT_EQ(log.device(port).attempt, 2);
  EXPECT_EQ(log.device(port).answered, "boot v1.2.3.4");

  RecordFile file;
  std::string error;
  ASSERT_TRUE(ReadRecordFile(record, file, error)) << error;
  ASSERT_EQ(file.lines.size(), 1u);
  const std::string& line = file.lines[0];
  const std::string code = std::to_string(device::kErrorVerifyDiffers);
  EXPECT_NE(
      line.find("\"attempts\":2,\"attempt_results\":[{\"code\":" + code +
                ",\"message\":\"verify: device memory differs at 0x100010\"},{\"code\":" + code),
      std::string::npos)
      << line;
  EXPECT_NE(line.find("\"sent\":true"), std::string::npos) << line;
  EXPECT_NE(line.find("\"before\":\"boot v1.2.3.4\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"result\":{\"code\":" + code), std::string::npos) << line;
  const ProductionReport report = SummarizeProduction(file.records);
  EXPECT_EQ(report.units, 1u);
  EXPECT_EQ(report.failures,
            (std::map<std::int32_t, std::size_t>{{device::kErrorVerifyDiffers, 1}}));
  EXPECT_NE(device::ResultCodeMeaning(device::kErrorVerifyDiffers).find("verify"),
            std::string::npos);
}

// A unit whose number could not be taken made no attempt and was sent nothing: its row and its
// record say 0 attempts, and the report counts it apart from the units, so the yield is that of
// the unit that was flashed. A record that cannot be written fails its unit, and the row says why.
TEST_F(StationEngineTest, NoNumberIsNoUnitAndALostRecordFailsItsUnit) {
  const std::string record = (m_dir / "record.jsonl").string();
  m_job.record = MakeRecorder({record, nullptr, "", "line3"}, {}, false);
  m_job.unitPlace = device::NumberPlace{0x100000, 4};
  std::atomic<int> taken = 0;
  m_job.takeNumber = [&taken](std::uint64_t& number, std::string& error) {
    if (taken++ > 0) {
      error = "every value of the unit list is used";
      return false;
    }
    number = 7;
    return true;
  };
  AddDevice("dev0");
  AddDevice("dev1");
  EventLog log;
  {
    Station station(Settings(2), m_job, log);
    const StationTotals totals = station.Run();
    EXPECT_EQ(totals.succeeded, 1);
    EXPECT_EQ(totals.failed, 1);
  }
  RecordFile file;
  std::string error;
  ASSERT_TRUE(ReadRecordFile(record, file, error)) << error;
  ASSERT_EQ(file.lines.size(), 2u);
  for (const std::string& line : file.lines) {
    const bool numbered = line.find("\"unit\":{") != std::string::npos;
    EXPECT_NE(line.find(numbered ? "\"attempts\":1," : "\"attempts\":0,\"attempt_results\":[],"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(numbered ? "\"sent\":true" : "\"sent\":false"), std::string::npos) << line;
  }
  for (const char* port : {"dev0", "dev1"}) {
    const EventLog::Device d = log.device((m_dir / port).string());
    EXPECT_EQ(d.attempt, d.ok ? 1 : 0) << port;
    EXPECT_EQ(d.answered, d.ok ? "boot v1.2.3.4" : "-") << port;
  }
  const ProductionReport report = SummarizeProduction(file.records);
  EXPECT_EQ(report.units, 1u);
  EXPECT_EQ(report.succeeded, 1u);
  EXPECT_EQ(report.notStarted, 1u);
  EXPECT_EQ(report.notStartedBy,
            (std::map<std::int32_t, std::size_t>{{device::kErrorUnitNumber, 1}}));
  EXPECT_DOUBLE_EQ(report.Yield(), 1.0);

  // The record's folder is gone: the flashed unit fails, its row tells why.
  m_job.unitPlace.reset();
  m_job.record =
      MakeRecorder({(m_dir / "gone" / "record.jsonl").string(), nullptr, "", "line3"}, {}, false);
  const std::string port = AddDevice("dev2");
  EventLog lost;
  StationSettings only = Settings(1);
  only.match = port;
  Station one(only, m_job, lost);
  const StationTotals totals = one.Run();
  EXPECT_EQ(totals.failed, 1);
  EXPECT_FALSE(lost.device(port).ok);
  EXPECT_NE(lost.device(port).recordError.find("gone"), std::string::npos)
      << lost.device(port).recordError;
}

}  // namespace
}  // namespace vantor::production
