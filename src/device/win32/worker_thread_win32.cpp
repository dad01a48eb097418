// Windows: console control events arrive on a thread of their own; a worker is a plain thread.
#include "device/worker_pool.h"

namespace vantor::device {

std::thread StartWorkerThread(std::function<void()> body) {
  return std::thread(std::move(body));
}

}  // namespace vantor::device
