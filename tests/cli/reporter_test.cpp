// The JSON reporter's events are its own: the phases a live view shows (the wait after the
// download, the second detection) add none, while the steps around them each give one.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/report/reporter.h"

namespace vantor::cli {
namespace {

TEST(JsonReporterTest, PhasesAddNoEvent) {
  std::ostringstream json;
  auto reporter = MakeJsonReporter(json, "/dev/ttyUSB9");
  reporter->SegmentStarted(0, 1, 0x100000, 4096, "segment");
  reporter->Phase(device::FlowPhase::kRestartWait);
  reporter->Phase(device::FlowPhase::kRedetecting);
  EXPECT_EQ(json.str().find("restart"), std::string::npos) << json.str();
  EXPECT_NE(json.str().find("\"event\":\"segment_started\""), std::string::npos) << json.str();
  EXPECT_EQ(json.str().find('\n'), json.str().size() - 1) << json.str();  // one event only
}

}  // namespace
}  // namespace vantor::cli
