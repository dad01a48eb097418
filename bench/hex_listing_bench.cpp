// Times of Pelion's main hex listing on the real dialog (offscreen): ShowSegments over the whole
// 256 KiB window, and ResetHexListing. Each must stay under 50 ms; prints the figures and fails
// when one does not.
#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "pelion/pelion_dlg.h"
#include "pelion/slots.h"

using namespace vantor;
using Clock = std::chrono::steady_clock;

namespace {

// The median of `runs` timings of `fn`, in milliseconds; each run ends with the view's repaint.
template <typename Fn>
double MedianMs(pelion::CPelionDlg& dialog, int runs, Fn fn) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    fn(i);
    dialog.hexView()->viewport()->repaint();
    QApplication::processEvents();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  pelion::CPelionDlg dialog;
  dialog.show();
  QApplication::processEvents();

  // The whole window as one segment in the dialog's list: a 256 KiB firmware file loaded by
  // "load image" (which accepts any firmware size at 0x100000).
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("window.bin"));
  {
    std::vector<char> data(device::kWindowSize);
    for (std::size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<char>(i * 31);
    }
    std::ofstream(path.toStdString(), std::ios::binary).write(data.data(), std::ssize(data));
  }
  ui::SetMessageHook([](const ui::MessageRequest&) {});
  dialog.checkBox(pelion::IDC_CHECK_FIRMWARE)->click();
  dialog.pathField(pelion::IDC_PATH_FIRMWARE)->setText(path);
  dialog.button(pelion::IDC_LOAD_IMAGE)->click();
  dialog.WaitForWorker();
  if (dialog.segments().size() != 1 || dialog.segments().begin()->length != 0x40000) {
    std::printf("FAIL: the window segment did not load\n");
    return 1;
  }

  constexpr int kRuns = 21;
  const double show = MedianMs(dialog, kRuns, [&](int) { dialog.ShowSegments(); });
  const double reset = MedianMs(dialog, kRuns, [&](int) { dialog.ResetHexListing(); });

  std::printf("full-window listing (256 KiB, 16384 lines): %.3f ms (median of %d)\n", show, kRuns);
  std::printf("ResetHexListing (16384 placeholder lines):  %.3f ms (median of %d)\n", reset, kRuns);
  const bool ok = show < 50.0 && reset < 50.0;
  std::printf("%s: each under 50 ms\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
