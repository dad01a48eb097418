// The test scale of the programs' fixed waits (see wait_scale.h).
#include "ui/wait_scale.h"

#include "device/flows.h"

namespace vantor::ui {

void SetWaitScaleForTests(double scale) {
  device::SetWaitScaleForTesting(scale);  // one scale for the programs and the device flows
}

std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait) {
  return device::ScaledWait(wait);
}

}  // namespace vantor::ui
