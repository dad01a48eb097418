// A port's row follows its worker's steps as the live table shows them: the phase a device is
// really in (the wait after the download, the second detection, the verify with its own
// percent), the unit number, the attempts, the result; and every step reaches the next observer
// unchanged.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/flows.h"
#include "device/texts.h"
#include "production/port_rows.h"

namespace vantor::production {
namespace {

using device::DetectedState;
using device::FlowPhase;

// The next observer: writes down each step it is passed, with what it carries.
class PassedOn final : public device::FlowObserver {
 public:
  std::vector<std::string> steps;
  void SegmentStarted(std::size_t index, std::size_t, std::uint32_t, std::int32_t,
                      std::string_view what) override {
    steps.push_back(std::string(what) + " " + std::to_string(index));
  }
  void Phase(FlowPhase phase) override {
    steps.push_back(phase == FlowPhase::kRestartWait ? "restart wait" : "redetecting");
  }
  void UnitNumber(std::uint64_t number) override {
    steps.push_back("unit " + std::to_string(number));
  }
  void Attempt(int number, int total) override {
    steps.push_back("attempt " + std::to_string(number) + "/" + std::to_string(total));
  }
  void Result(std::int32_t code, std::string_view) override {
    steps.push_back("result " + std::to_string(code));
  }
};

TEST(PortRowsTest, RowShowsThePhaseTheDeviceIsIn) {
  PortRows rows;
  PortRow* row = nullptr;
  {
    std::lock_guard lock(rows.mutex());
    row = &rows.Add("/dev/ttyUSB9");
  }
  auto passed = std::make_unique<PassedOn>();
  const PassedOn& next = *passed;
  std::vector<std::string> changes;
  auto observer =
      MakeRowObserver(rows, *row, std::move(passed), [&](const PortRow& r, RowChange change) {
        if (change != RowChange::kOther)
          changes.push_back(r.step);
      });
  DetectedState boot;
  boot.bootVersion = 0x01020304;
  const auto step = [&] {
    std::lock_guard lock(rows.mutex());
    return std::make_pair(row->step, row->percent);
  };
  using Step = std::pair<std::string, int>;

  observer->UnitNumber(1042);  // taken once, before the first attempt
  observer->Attempt(1, 2);
  observer->PortOpened("/dev/ttyUSB9");
  EXPECT_EQ(step(), Step("detecting", 0));
  observer->Detected(boot, "detect");
  EXPECT_EQ(row->answered, "boot v1.2.3.4");
  observer->SegmentStarted(0, 1, 0x100000, 4096, "segment");
  observer->Progress(100);
  EXPECT_EQ(step(), Step("segment 1/1", 100));
  EXPECT_TRUE(row->progressSince);
  observer->Phase(FlowPhase::kRestartWait);
  EXPECT_EQ(step(), Step("waiting for the restart", 100));
  EXPECT_FALSE(row->progressSince);  // no rate while nothing moves
  observer->Phase(FlowPhase::kRedetecting);
  EXPECT_EQ(step(), Step("detecting again", 100));
  observer->Detected(boot, "redetect");
  EXPECT_EQ(step(), Step("detected again: boot v1.2.3.4", 100));
  observer->SegmentStarted(0, 1, 0x100000, 4096, "verify");
  EXPECT_EQ(step(), Step("verify 1/1", 0));  // the verify's own percent
  EXPECT_FALSE(row->progressSince);
  observer->Progress(40);
  EXPECT_EQ(step(), Step("verify 1/1", 40));
  observer->Result(-9978, device::CommErrorMessage(-9978));
  EXPECT_EQ(step(), Step("failed", 40));
  EXPECT_NE(row->message.find("-9978: "), std::string::npos) << row->message;  // its meaning

  observer->Attempt(2, 2);  // the failed attempt's result is not the device's
  EXPECT_EQ(step(), Step("attempt 2 of 2", 0));
  EXPECT_FALSE(row->code);
  EXPECT_EQ(row->unit, 1042u);  // a retried device keeps its number
  observer->Result(0, "downloaded");
  EXPECT_EQ(row->code, 0);
  EXPECT_EQ(changes,
            (std::vector<std::string>{"attempt 1 of 2", "failed", "attempt 2 of 2", "done"}));

  {
    std::lock_guard lock(rows.mutex());
    FinishRow(*row, true, false);
  }
  EXPECT_FALSE(row->running);
  EXPECT_TRUE(row->ok);
  EXPECT_EQ(row->attempt, 2);
  // Every step reached the next observer as it came.
  EXPECT_EQ(next.steps, (std::vector<std::string>{"unit 1042", "attempt 1/2", "segment 0",
                                                  "restart wait", "redetecting", "verify 0",
                                                  "result -9978", "attempt 2/2", "result 0"}));
}

TEST(PortRowsTest, FinishedRowsSettleTheirResult) {
  const struct {
    const char* name;
    std::optional<std::int32_t> code;
    bool ok;
    bool cancelled;
    std::int32_t finalCode;
    const char* step;
  } cases[] = {{"succeeded", 0, true, false, 0, "done"},
               {"failed", -8540, false, false, -8540, "failed"},
               {"no result", std::nullopt, false, false, -1, "failed"},
               {"cancelled", 0, false, true, serial::kErrorCancelled, "cancelled"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PortRow row;
    row.code = c.code;
    FinishRow(row, c.ok, c.cancelled);
    EXPECT_EQ(row.code, c.finalCode);
    EXPECT_EQ(row.step, c.step);
    EXPECT_FALSE(row.running);
    if (!c.code) {
      EXPECT_EQ(row.message, "the worker ended without a result");
    }
  }
}

}  // namespace
}  // namespace vantor::production
