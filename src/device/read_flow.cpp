// The read session of named regions: every region read twice, each saved only when both
// read-backs agree (see flows.h).
#include <system_error>

#include "device/files.h"
#include "device/flows.h"
#include "device/port_tuning.h"
#include "device/texts.h"

namespace vantor::device {

std::int32_t RunReadFlow(const ReadJob& job, FlowObserver& observer) {
  std::int32_t openError = 0;
  auto port = OpenDevicePort(job.port, job.trace, openError, job.cancel, job.portWait);
  if (!port && openError == serial::kErrorCancelled) {
    observer.Result(serial::kErrorCancelled, kCancelledText);
    return serial::kErrorCancelled;
  }
  if (!port) {
    observer.Result(openError, OpenFailureText(job.port, openError));
    return openError != 0 ? openError : -1;
  }
  observer.PortOpened(job.port);

  // Each region is read twice; only bytes that two read-backs agree on are saved.
  std::int64_t total = 0;
  for (const Region& r : job.regions)
    total += 2 * static_cast<std::int64_t>(r.length);
  std::int64_t before = 0;
  std::int32_t firstFailure = 0;
  std::string failures;
  for (std::size_t i = 0; i < job.regions.size(); ++i) {
    const Region& r = job.regions[i];
    observer.SegmentStarted(i, job.regions.size(), r.address, r.length, r.name);
    std::vector<std::uint8_t> data;
    bool differed = false;
    const std::int32_t result =
        RunCheckedReadBack(*port, r.address, r.length, data, differed, observer, before, total);
    before += 2 * static_cast<std::int64_t>(r.length);
    observer.SegmentDone(i, r.address, result);
    if (IsCancelled(job.cancel)) {
      // Nothing of the region being read is saved; regions read whole before stay saved.
      observer.Result(serial::kErrorCancelled, kCancelledText);
      return serial::kErrorCancelled;
    }
    if (result != 0) {
      // No file for a region that did not come back whole.
      if (firstFailure == 0)
        firstFailure = result;
      failures += "\n" + std::string(r.name) + ": " + CommErrorMessage(result) +
                  (differed ? std::string("\n") + kReadBacksDifferText : "");
      continue;
    }
    const std::filesystem::path path = job.directory / SaveFileName(r.address, job.format);
    if (!WriteSegmentFile(path, EncodeSaved(r.address, data, job.format))) {
      if (firstFailure == 0)
        firstFailure = -1;
      failures += "\n" + std::string(r.name) + ": " + kCantSavedText + path.string();
      continue;
    }
    observer.Saved(r.name, path.string(), data.size());
  }
  if (firstFailure != 0) {
    observer.Result(firstFailure, kReadFailedText + failures);
    return firstFailure;
  }
  observer.Result(0, "");
  return 0;
}

}  // namespace vantor::device
