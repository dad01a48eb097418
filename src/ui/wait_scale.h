// Test-only: the scale of the programs' fixed waits (3000 ms, 7000 ms ...), one scale shared with
// the device flows; 1.0 for users.
#pragma once

#include <chrono>

namespace vantor::ui {

void SetWaitScaleForTests(double scale);
std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait);

}  // namespace vantor::ui
