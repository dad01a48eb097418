// The framework's wait cursor for a short operation of the UI thread.
#pragma once

namespace vantor::ui {

// Shown from construction to destruction; either may happen on any thread, the cursor changes on
// the UI thread.
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace vantor::ui
