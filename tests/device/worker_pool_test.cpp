// The worker pool and the job: many workers at once, one cancelled while the others go on, one
// failing or throwing, one token for the whole run, a pool that goes while workers still run;
// the retry loop; a job against simulated devices with its retries and its record.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/job.h"
#include "device/worker_pool.h"
#include "devsim/pty_transport.h"
#include "protocol/download.h"
#include "support/test_files.h"

namespace vantor::device {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Collects what every worker ended with, waiting at most `limit` for `count` of them.
std::map<std::string, WorkerPool::Ended> Collect(WorkerPool& pool, std::size_t count,
                                                 std::chrono::milliseconds limit = 10000ms) {
  std::map<std::string, WorkerPool::Ended> ended;
  const auto deadline = Clock::now() + limit;
  while (ended.size() < count && Clock::now() < deadline) {
    for (const auto& e : pool.WaitForEnded(100ms)) {
      EXPECT_EQ(ended.count(e.port), 0u) << e.port << " reported twice";
      ended[e.port] = e;
    }
  }
  return ended;
}

// A job's segments: 3000 bytes for BOOT.
std::shared_ptr<const protocol::SegmentList> BootImage() {
  auto segments = std::make_shared<protocol::SegmentList>();
  protocol::Segment boot;
  boot.address = 0x100000;
  boot.data.assign(3000, 0x5A);
  boot.length = static_cast<std::int32_t>(boot.data.size());
  protocol::InsertSegment(*segments, boot);
  return segments;
}

TEST(WorkerPoolTest, ManyWorkersOneCancelledOneFailingOneThrowing) {
  WorkerPool pool;
  std::atomic<int> ran{0};
  std::string error;
  for (int i = 0; i < 32; ++i) {
    const std::string port = "port" + std::to_string(i);
    ASSERT_TRUE(pool.Start(
        port,
        [&ran, i](const serial::CancelToken& cancel) {
          ++ran;
          if (i == 5)  // waits for its cancel
            return cancel.SleepFor(20000ms) == 0;
          if (i == 6)
            return false;
          if (i == 7)
            throw std::runtime_error("lost");
          return cancel.SleepFor(20ms) == 0;
        },
        error))
        << error;
  }
  const auto start = Clock::now();
  pool.Cancel("port5");
  const auto ended = Collect(pool, 32);
  EXPECT_LT(Clock::now() - start, 5000ms);  // the cancelled one did not sleep its 20 s
  ASSERT_EQ(ended.size(), 32u);
  EXPECT_EQ(ran.load(), 32);
  for (const auto& [port, e] : ended) {
    const bool failing = port == "port5" || port == "port6" || port == "port7";
    EXPECT_EQ(e.ok, !failing) << port;
    EXPECT_EQ(e.cancelled, port == "port5") << port;
  }
  EXPECT_EQ(pool.running(), 0u);
  EXPECT_TRUE(pool.WaitForEnded(1ms).empty());  // each ended worker is told once
}

TEST(WorkerPoolTest, ASharedTokenEndsEveryWorkerAndAPoolThatGoesCancelsItsWorkers) {
  serial::CancelToken run;
  const auto start = Clock::now();
  {
    WorkerPool pool(&run);
    std::string error;
    for (const char* port : {"a", "b", "c"})
      ASSERT_TRUE(pool.Start(
          port, [](const serial::CancelToken& cancel) { return cancel.SleepFor(20000ms) == 0; },
          error));
    run.Cancel();
    const auto ended = Collect(pool, 3);
    ASSERT_EQ(ended.size(), 3u);
    for (const auto& [port, e] : ended)
      EXPECT_FALSE(e.ok) << port;
  }
  {
    WorkerPool pool;  // its own tokens: leaving the scope cancels and joins the sleepers
    std::string error;
    for (const char* port : {"a", "b"})
      ASSERT_TRUE(pool.Start(
          port, [](const serial::CancelToken& cancel) { return cancel.SleepFor(20000ms) == 0; },
          error));
  }
  EXPECT_LT(Clock::now() - start, 5000ms);
}

TEST(RetriesTest, AttemptsUntilSuccessTheLimitOrACancel) {
  struct Observer : FlowObserver {
    std::vector<std::pair<int, int>> attempts;
    void Attempt(int number, int total) override { attempts.emplace_back(number, total); }
  };
  const struct {
    int retries;
    int succeedsAt;  // 0: never
    bool cancelAfterFirst;
    int attempts;
  } cases[] = {
      {0, 0, false, 1}, {2, 0, false, 3}, {3, 2, false, 2}, {0, 1, false, 1}, {3, 0, true, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "retries " << c.retries << " succeeds at " << c.succeedsAt);
    serial::CancelToken cancel;
    Observer observer;
    int made = 0;
    const int attempts = RunWithRetries(c.retries, &cancel, observer, [&] {
      ++made;
      if (c.cancelAfterFirst)
        cancel.Cancel();
      return made == c.succeedsAt;
    });
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(made, c.attempts);
    // Attempts are announced only when there are retries.
    ASSERT_EQ(observer.attempts.size(), c.retries > 0 ? static_cast<std::size_t>(made) : 0u);
    for (std::size_t i = 0; i < observer.attempts.size(); ++i)
      EXPECT_EQ(observer.attempts[i], std::make_pair(static_cast<int>(i) + 1, 1 + c.retries));
  }
}

// A job on simulated devices, run by the pool: one device refuses a frame once and is flashed
// on its retry, the other at once; every device gets one record with its own attempts, and a
// record that cannot be written fails the device whose download succeeded.
TEST(JobTest, PoolRunsAJobPerPortWithRetriesAndRecords) {
  devsim::DeviceOptions refusing;
  refusing.refuseSegment = 0;
  refusing.refuseFrame = 1;
  refusing.refuseOnce = true;
  auto first = devsim::PtyDevice::Start(refusing);
  auto second = devsim::PtyDevice::Start({});
  ASSERT_TRUE(first && second);

  const auto segments = BootImage();

  for (const bool recordFails : {false, true}) {
    SCOPED_TRACE(recordFails ? "the record fails" : "the record is written");
    std::mutex recordMutex;
    std::map<std::string, int> recorded;  // port -> attempts
    Job job;
    job.segments = segments;
    job.redetect = false;
    job.retries = 1;
    job.record = [&](const JobOutcome& outcome) {
      std::lock_guard lock(recordMutex);
      recorded[outcome.port] = outcome.attempts;
      RecordResult result;
      if (recordFails)
        result.error = "cannot write the record";
      return result;
    };
    struct Messages : FlowObserver {
      std::vector<std::string> texts;
      void Message(std::string_view text) override { texts.emplace_back(text); }
    };
    std::map<std::string, Messages> observers{{first->path(), {}}, {second->path(), {}}};
    WorkerPool pool;
    std::string error;
    for (auto& [port, observer] : observers) {
      ASSERT_TRUE(pool.Start(
          port,
          [&job, port = port, &observer = observer](const serial::CancelToken& cancel) {
            return RunJob(port, job, &cancel, observer).ok();
          },
          error));
    }
    const auto ended = Collect(pool, 2, 20000ms);
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended.at(first->path()).ok, !recordFails);
    EXPECT_EQ(ended.at(second->path()).ok, !recordFails);
    // The refusal was once per device: only the first attempt of the first run meets it.
    EXPECT_EQ(recorded.at(first->path()), recordFails ? 1 : 2);
    EXPECT_EQ(recorded.at(second->path()), 1);
    for (auto& [port, observer] : observers) {
      const bool said =
          std::find(observer.texts.begin(), observer.texts.end(),
                    "record NOT written: cannot write the record") != observer.texts.end();
      EXPECT_EQ(said, recordFails) << port;
    }
  }
  for (auto* device : {first.get(), second.get()}) {
    device->With([&](devsim::Device& d) {
      EXPECT_EQ(d.ReadMemory(0x100000, 3000), std::vector<std::uint8_t>(3000, 0x5A));
    });
  }
}

// The device's result over its attempts: a later attempt that failed before its download session
// began (the port did not open, nothing answered) is a consequence of the one before; a cancel
// and a success stand, and so does a failure inside a session.
TEST(JobTest, DeviceResultPassesOverConsequences) {
  constexpr std::int32_t kStalled = protocol::DL_ERR_IO_BASE + serial::kErrorTimeout;
  constexpr std::int32_t kRefused = protocol::DL_ERR_REFUSED_2;
  const AttemptResult stalled{kStalled, "stalled", true};
  const AttemptResult refused{kRefused, "refused", true};
  const AttemptResult silent{-1, "no answer", false};
  const AttemptResult pulled{2, "no such file", false};
  const AttemptResult cancelled{serial::kErrorCancelled, "cancelled", false};
  const AttemptResult ok{0, "downloaded", true};
  const struct {
    const char* what;
    std::vector<AttemptResult> attempts;
    std::int32_t result;
  } cases[] = {
      {"none", {}, 0},
      {"one failure", {silent}, -1},
      {"stalled, then pulled", {stalled, pulled}, kStalled},
      {"stalled, silent, pulled", {stalled, silent, pulled}, kStalled},
      {"silent, then pulled: the first", {silent, pulled}, -1},
      {"stalled, then refused in a session", {stalled, refused}, kRefused},
      {"refused, stalled, silent", {refused, stalled, silent}, kStalled},
      {"stalled, then cancelled", {stalled, cancelled}, serial::kErrorCancelled},
      {"stalled, then ok", {stalled, ok}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DeviceResult(c.attempts).code, c.result);
  }
}

// A device that stalls in its download and is pulled before the retry: the retry fails to open
// the port, and the device's result stays the stall; each attempt is kept with its own code.
TEST(JobTest, AStallThenAPulledDeviceKeepsTheStallAsItsResult) {
  devsim::DeviceOptions stalling;
  stalling.stallSegment = 0;
  stalling.stallFrame = 1;
  auto device = devsim::PtyDevice::Start(stalling);
  ASSERT_TRUE(device);
  // Through a link that goes with the device: its pseudo-terminal's number may be taken by
  // another test's device at once, and the retry must not find that one.
  const vantor::testing::TempFolder folder;
  const std::string port = (folder / "ttyUSB0").string();
  std::filesystem::create_symlink(device->path(), port);
  const auto segments = BootImage();
  Job job;
  job.segments = segments;
  job.redetect = false;
  job.retries = 1;
  struct Puller : FlowObserver {
    std::unique_ptr<devsim::PtyDevice>* device = nullptr;
    std::string link;
    void Attempt(int number, int) override {
      if (number == 2) {  // pulled: its port is gone
        std::filesystem::remove(link);
        device->reset();
      }
    }
  } observer;
  observer.device = &device;
  observer.link = port;
  const JobOutcome outcome = RunJob(port, job, nullptr, observer);
  EXPECT_EQ(outcome.attempts, 2);
  ASSERT_EQ(outcome.attemptResults.size(), 2u);
  EXPECT_EQ(outcome.attemptResults[0].code, protocol::DL_ERR_IO_BASE + serial::kErrorTimeout);
  EXPECT_GT(outcome.attemptResults[1].code, 0) << outcome.attemptResults[1].message;
  EXPECT_EQ(outcome.result.code, protocol::DL_ERR_IO_BASE + serial::kErrorTimeout);
  EXPECT_TRUE(outcome.sent);
  EXPECT_FALSE(outcome.ok());
}

}  // namespace
}  // namespace vantor::device
