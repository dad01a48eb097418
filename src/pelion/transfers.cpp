// CPelionDlg's transfers: the worker that runs one at a time with the port-and-list controls
// disabled, and the jobs it runs over the device layer's flows: download, upload, upload log and
// load image. Closing the dialog cancels the running job through its port's cancel token.
#include "pelion/pelion_dlg.h"

#include <QPointer>

#include <utility>

#include "device/files.h"
#include "device/flows.h"
#include "device/image_files.h"
#include "device/texts.h"
#include "pelion/image_wnd.h"
#include "pelion/slots.h"
#include "ui/closing.h"
#include "ui/paths.h"
#include "ui/texts.h"
#include "ui/worker.h"

namespace vantor::pelion {
namespace {

// Zero-filled buffers: bytes that get no valid reply read as 0, not as old heap content.
protocol::Segment MakeRegionSegment(std::uint32_t address, std::int32_t length) {
  protocol::Segment segment;
  segment.address = address;
  segment.length = length;
  segment.data.assign(static_cast<std::size_t>(length), 0);
  return segment;
}

// The dialog's side of every device flow (download, upload, upload log): the progress moves
// progress bar 1003.
class ProgressObserver : public device::FlowObserver {
 public:
  explicit ProgressObserver(CPelionDlg* dialog) : m_dialog(dialog) {}
  void Progress(std::int32_t percent) override { m_dialog->UpdateProgress(percent); }

 private:
  CPelionDlg* m_dialog;
};

}  // namespace

// --- Workers -------------------------------------------------------------------------------------

void CPelionDlg::SetBusy(bool busy) {
  m_busy = busy;
  for (int id :
       {IDC_DOWNLOAD_BINARY, IDC_UPLOAD, IDC_UPLOAD_LOG, IDC_CLEAR, IDC_LOAD_IMAGE, IDC_SAVE}) {
    control(id)->setEnabled(!busy);
  }
}

void CPelionDlg::StartWorker(std::function<void()> work, bool waitCursor) {
  SetBusy(true);
  if (waitCursor) {
    m_workerCursor.emplace();
  }
  // The work holds the port and its token until it ends.
  m_worker.Start(this, std::move(work), [this] {
    m_workerCursor.reset();
    SetBusy(false);
  });
}

std::unique_ptr<serial::SerialPort> CPelionDlg::OpenSelectedPort() {
  const std::string name = SelectedPortNumber();
  if (name.empty()) {
    Message(ui::FromCoreText(device::kNoPortChosenText), ui::MessageIcon::kInformation);
    return nullptr;
  }
  // Its waits end at once when the dialog closes (the worker's token).
  std::int32_t error = 0;
  std::unique_ptr<serial::SerialPort> port =
      device::OpenDevicePort(name, /*trace=*/false, error, m_worker.cancelToken());
  if (!port) {
    Message(ui::FromCoreText(device::kPortNotOpenedText), ui::MessageIcon::kInformation);
    return nullptr;
  }
  return port;
}

void CPelionDlg::UpdateProgress(std::int32_t percent) {
  ui::RunOnUiThread(this, [this, percent] { m_progress->setValue(percent); });
}

// --- Download ------------------------------------------------------------------------------------

void CPelionDlg::OnDownloadBinary() {
  if (m_busy) {
    return;
  }
  m_port = OpenSelectedPort();
  if (!m_port) {
    return;
  }
  // The worker owns the port from here on and closes it at its end.
  std::shared_ptr<serial::SerialPort> port(std::move(m_port));
  StartWorker([this, port] { DownloadWorker(*port); });
}

void CPelionDlg::DownloadWorker(serial::SerialPort& port) {
  ProgressObserver observer(this);
  const std::int32_t status = device::RunDownload(port, m_segments, m_downloadFlags, observer);
  port.Close();
  if (status != 0) {
    Message(ui::FromCoreText(device::CommErrorMessage(status)), ui::MessageIcon::kInformation);
  }
}

// --- Upload --------------------------------------------------------------------------------------

void CPelionDlg::OnUpload() {
  if (m_busy) {
    return;
  }
  m_port = OpenSelectedPort();
  if (!m_port) {
    return;
  }
  const bool binary = checkBox(IDC_CHECK_BINARY)->isChecked();
  std::array<bool, 4> slotChecked{};
  for (std::size_t i = 0; i < kImageSlots.size(); ++i) {
    slotChecked[i] = checkBox(kImageSlots[i].checkBox)->isChecked();
  }
  std::shared_ptr<serial::SerialPort> port(std::move(m_port));
  StartWorker([this, port, binary, slotChecked] { UploadThread(*port, binary, slotChecked); });
}

void CPelionDlg::UploadThread(serial::SerialPort& port, bool binary,
                              const std::array<bool, 4>& slotChecked) {
  protocol::ClearSegments(m_segments);
  if (binary) {
    protocol::InsertSegment(m_segments,
                            MakeRegionSegment(kBinaryRegion.address, kBinaryRegion.length));
  } else {
    for (std::size_t index : device::kUploadOrder) {
      const device::Slot& slot = kImageSlots[index].device;
      if (slotChecked[index]) {
        protocol::InsertSegment(m_segments, MakeRegionSegment(slot.address(), slot.size));
      }
    }
  }
  ProgressObserver observer(this);
  const device::ReadBackListOutcome outcome = device::RunReadBackList(port, m_segments, observer);
  // A segment that was not read whole leaves the list: "save" and the next download only ever
  // see bytes that came from the device. The box below names it.
  for (std::uint32_t address : outcome.unreadSegments) {
    m_segments.Remove(address);
  }
  Message(ui::FromCoreText(outcome.boxText),
          outcome.informationIcon ? ui::MessageIcon::kInformation : ui::MessageIcon::kNone,
          QString());
  if (outcome.result == 0) {
    ShowSegments();
  }
  port.Close();
}

// --- Upload log ----------------------------------------------------------------------------------

void CPelionDlg::OnUploadLog() {
  if (m_busy) {
    return;
  }
  std::shared_ptr<serial::SerialPort> port = OpenSelectedPort();
  if (!port) {
    return;
  }
  // Owned by the dialog's object tree, released when the user closes it.
  QPointer<CImageWnd> window = new CImageWnd(this);
  window->show();
  StartWorker([this, port, window] {
    protocol::SegmentList job;
    protocol::InsertSegment(
        job, MakeRegionSegment(device::kUploadLogRegion.address, device::kUploadLogRegion.length));
    ProgressObserver observer(this);
    const device::ReadBackListOutcome outcome = device::RunReadBackList(*port, job, observer);
    Message(ui::FromCoreText(outcome.boxText),
            outcome.informationIcon ? ui::MessageIcon::kInformation : ui::MessageIcon::kNone,
            QString());
    ui::RunOnUiThread(this, [&] {
      if (window && !ui::IsClosing(this)) {
        ListSegmentsFromTop(window->list(), job);
        // The box belonged to the main dialog, which its closing brought to the front: the
        // window the user waits for comes back on top.
        window->raise();
        window->activateWindow();
      }
    });
    port->Close();
  });
}

// --- Load image ----------------------------------------------------------------------------------

void CPelionDlg::OnLoadImage() {
  if (m_busy) {
    return;
  }
  std::array<bool, 4> slotChecked{};
  std::array<QString, 4> paths;
  for (std::size_t i = 0; i < kImageSlots.size(); ++i) {
    slotChecked[i] = checkBox(kImageSlots[i].checkBox)->isChecked();
    paths[i] = pathField(kImageSlots[i].pathField)->text();
  }
  // "load image" runs without the wait cursor: the dialog stays as it looks while files load.
  StartWorker([this, slotChecked, paths] { LoadImageThread(slotChecked, paths); },
              /*waitCursor=*/false);
}

void CPelionDlg::LoadImageThread(const std::array<bool, 4>& slotChecked,
                                 const std::array<QString, 4>& paths) {
  QString summary;
  m_downloadFlags = 0;
  const device::PlaceTable& places = device::SlotPlaces();
  for (std::size_t i = 0; i < kImageSlots.size(); ++i) {
    const device::ImagePlace& place = places.places[i];
    m_segments.Remove(place.address);
    if (!slotChecked[i]) {
      continue;
    }
    // The firmware takes a file of any size; the others only their exact size.
    const device::TakenImage taken = device::TakeImageFile(places, &place, ui::ToPath(paths[i]),
                                                           device::ImageFormats::kRaw, m_segments);
    if (!taken.text.empty()) {
      Message(ui::FromCoreText(taken.text));
    }
    // The summary and the flags word tell what was loaded: a slot whose file was not taken
    // says so and adds no flags (no firmware segment, no code-area download).
    if (taken.ok()) {
      m_downloadFlags |= place.flags;
      summary += paths[i] + ui::FromCoreText(device::kLoadedText);
    } else {
      summary += paths[i] + ui::FromCoreText(device::kNotLoadedText);
    }
  }
  ShowSegments();
  Message(summary);
}

}  // namespace vantor::pelion
