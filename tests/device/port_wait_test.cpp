// A run with retries waits for a port that does not open yet before the open counts as a failed
// attempt: a port that appears or is released late is one successful attempt, a port that never
// appears fails after the bound with the open error, a cancel ends the wait at once, and a run
// without retries does not wait.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "device/job.h"
#include "device/port_tuning.h"
#include "device/texts.h"
#include "devsim/pty_transport.h"

namespace vantor::device {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long the port stays out of reach in the late cases: several reopen pauses.
constexpr auto kLate = 400ms;

struct Recorder : FlowObserver {
  int attempts = 0;
  std::int32_t code = 0;
  std::string message;
  void Attempt(int /*number*/, int /*total*/) override { ++attempts; }
  void Result(std::int32_t resultCode, std::string_view text) override {
    code = resultCode;
    message = text;
  }
};

// A folder for port names that do not exist yet (and the read flow's files), and a job with one
// retry over a small segment.
class PortWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() /
          ("vantor-port-wait-" + std::to_string(getpid()) + "-" + info->name());
    std::filesystem::create_directories(dir);
    missing = (dir / "ttyUSB-late").string();

    auto list = std::make_shared<protocol::SegmentList>();
    protocol::Segment boot;
    boot.address = 0x100000;
    boot.data.assign(512, 0xA5);
    boot.length = static_cast<std::int32_t>(boot.data.size());
    protocol::InsertSegment(*list, boot);
    job.segments = list;
    job.redetect = false;
    job.retries = 1;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  ReadJob ReadOf(const std::string& port, const serial::CancelToken* cancel) const {
    ReadJob read;
    read.port = port;
    read.regions = {Region{"start", 0x100000, 64}};
    read.directory = dir;
    read.cancel = cancel;
    read.portWait = PortWaitForRetries(job.retries);
    return read;
  }

  std::filesystem::path dir;
  std::string missing;
  Job job;
};

TEST_F(PortWaitTest, PortThatOpensLateIsOneSuccessfulAttempt) {
  struct Case {
    const char* name;
    bool readFlow;  // the read flow instead of the download job
    bool busy;      // the port exists but is held open, then released; else it appears late
  };
  const Case cases[] = {
      {"download: the port appears", false, false},
      {"download: the port is released", false, true},
      {"read: the port appears", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto device = devsim::PtyDevice::Start({});
    ASSERT_TRUE(device);
    std::error_code ec;
    std::filesystem::remove(missing, ec);
    std::unique_ptr<serial::SerialPort> holder;
    if (c.busy) {
      std::int32_t error = 0;
      holder = OpenDevicePort(device->path(), false, error);
      ASSERT_TRUE(holder) << error;
    }
    const std::string port = c.busy ? device->path() : missing;
    std::thread arrival([&] {
      std::this_thread::sleep_for(kLate);
      if (c.busy)
        holder.reset();
      else
        std::filesystem::create_symlink(device->path(), missing);
    });
    serial::CancelToken cancel;
    Recorder observer;
    const auto start = Clock::now();
    if (c.readFlow) {
      EXPECT_EQ(RunReadFlow(ReadOf(port, &cancel), observer), 0) << observer.message;
    } else {
      const JobOutcome outcome = RunJob(port, job, &cancel, observer);
      EXPECT_TRUE(outcome.ok()) << outcome.last.message;
      EXPECT_EQ(outcome.attempts, 1);
      EXPECT_EQ(observer.attempts, 1);
    }
    const auto took = Clock::now() - start;
    arrival.join();
    EXPECT_GE(took, kLate);
    EXPECT_EQ(observer.code, 0);
  }
}

TEST_F(PortWaitTest, PortThatNeverOpensFailsAfterTheBoundWithTheOpenError) {
  const struct {
    int retries;
    int attempts;
    std::chrono::milliseconds least;  // each attempt waited the bound
    std::chrono::milliseconds most;
  } cases[] = {
      {0, 1, 0ms, 1000ms},  // without retries the open fails at once, as before
      {1, 2, 2 * kReopenRetryTime, 2 * kReopenRetryTime + 2000ms},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "retries " << c.retries);
    job.retries = c.retries;
    serial::CancelToken cancel;
    Recorder observer;
    const auto start = Clock::now();
    const JobOutcome outcome = RunJob(missing, job, &cancel, observer);
    const auto took = Clock::now() - start;
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.attempts, c.attempts);
    EXPECT_EQ(outcome.last.code, ENOENT);
    EXPECT_EQ(outcome.last.message, OpenFailureText(missing, ENOENT));
    EXPECT_GE(took, c.least);
    EXPECT_LT(took, c.most);
  }
}

TEST_F(PortWaitTest, CancelEndsTheWaitAtOnce) {
  constexpr auto kCancelAfter = 300ms;
  struct Case {
    const char* name;
    std::function<std::int32_t(const serial::CancelToken&, Recorder&)> run;
  };
  const Case cases[] = {
      {"download job",
       [&](const serial::CancelToken& cancel, Recorder& observer) {
         job.retries = 2;
         const JobOutcome outcome = RunJob(missing, job, &cancel, observer);
         EXPECT_EQ(outcome.attempts, 1);  // the cancelled wait is the last attempt
         return outcome.last.code;
       }},
      {"read flow",
       [&](const serial::CancelToken& cancel, Recorder& observer) {
         return RunReadFlow(ReadOf(missing, &cancel), observer);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serial::CancelToken cancel;
    Recorder observer;
    std::thread canceller([&] {
      std::this_thread::sleep_for(kCancelAfter);
      cancel.Cancel();
    });
    const auto start = Clock::now();
    EXPECT_EQ(c.run(cancel, observer), serial::kErrorCancelled);
    const auto took = Clock::now() - start;
    canceller.join();
    EXPECT_EQ(observer.code, serial::kErrorCancelled);
    EXPECT_EQ(observer.message, kCancelledText);
    EXPECT_GE(took, kCancelAfter);
    EXPECT_LT(took, kCancelAfter + 200ms);
  }
}

}  // namespace
}  // namespace vantor::device
