// CQuorixDlg's link to the device (online/offline, detection, bootloader entry) and the download
// worker, over the device layer's flows. Everything that talks to the device runs on the dialog's
// worker, whose cancel token every port carries: a close ends each wait at once.
#include "quorix/quorix_dlg.h"
#include "serial/port_enumeration.h"
#include "ui/texts.h"
#include "ui/wait_cursor.h"

namespace vantor::quorix {

void CQuorixDlg::SetStatus(const QString& text) {
  ui::RunOnUiThread(this, [&] { m_status->setText(text); });
}

void CQuorixDlg::SetToggleCaption(const QString& caption) {
  ui::RunOnUiThread(this, [&] { m_toggle->setText(caption); });
}

void CQuorixDlg::RunOnWorker(std::function<void()> work) {
  // The port and the segments belong to the worker until it ends.
  m_toggleWasEnabled = m_toggle->isEnabled();
  SetTransferControlsEnabled(false);
  m_worker.Start(this, std::move(work), [this] { SetTransferControlsEnabled(true); });
}

void CQuorixDlg::OnLinkToggle() {
  if (m_worker.running())
    return;  // disabled meanwhile
  if (m_toggle->text() != QStringLiteral("offline")) {
    SetLink(false);
    return;
  }
  // A missing selection counts as a port that is no longer present.
  const QString selected =
      m_portCombo->currentIndex() >= 0 ? m_portCombo->currentText() : QString();
  const std::vector<std::string> present = serial::EnumerateComPorts();
  bool found = false;
  for (const std::string& name : present) {
    if (!selected.isEmpty() && QString::fromStdString(name) == selected)
      found = true;
  }
  if (found) {
    SetLink(true);
    return;
  }
  m_portCombo->clear();
  for (const std::string& name : present)
    m_portCombo->AddSorted(QString::fromStdString(name));
  m_portCombo->setCurrentIndex(-1);
  m_portCombo->showPopup();
}

void CQuorixDlg::SetLink(bool online) {
  if (online) {
    RunOnWorker([this, name = m_portCombo->currentText().toStdString()] { GoOnline(name); });
    return;
  }
  ui::WaitCursor wait;
  m_bootVersion = kNoBootVersion;
  m_firmwareVersion.reset();
  SetStatus(QString::fromLatin1(device::kNoDeviceState));
  SetToggleCaption(QStringLiteral("offline"));
  m_port.reset();  // closes the handle
  Log("%s", device::kDisconnectedLog);
}

void CQuorixDlg::GoOnline(const std::string& portName) {
  ui::WaitCursor wait;
  std::int32_t error = 0;
  m_port = device::OpenDevicePort(portName, /*trace=*/true, error, m_worker.cancelToken());
  if (!m_port) {
    Message(QString::fromUtf8(device::kNoAnswerText));
    return;
  }
  DetectDevice();
  if (m_bootVersion != kNoBootVersion || m_firmwareVersion)
    Log("%s", device::kConnectedLog);
}

void CQuorixDlg::DetectDevice() {
  ui::WaitCursor wait;
  m_port = device::ReopenPort(std::move(m_port));
  const device::DetectedState state =
      m_port ? device::DetectDevice(*m_port) : device::DetectedState{};
  m_bootVersion = state.bootVersion.value_or(kNoBootVersion);
  m_firmwareVersion = state.firmwareVersion;
  if (state.bootVersion) {
    SetStatus(ui::FromCoreText(device::FormatBootVersion(*state.bootVersion)));
    SetToggleCaption(QStringLiteral("online"));
  } else if (state.firmwareVersion) {
    // The firmware's text as it came, with the line end of its reply.
    SetStatus(ui::FromLineText(*state.firmwareVersion + "\r\n"));
    SetToggleCaption(QStringLiteral("online"));
  } else {
    Message(QString::fromUtf8(device::kNoAnswerText));
    m_port.reset();
    SetToggleCaption(QStringLiteral("offline"));
    SetStatus(QString::fromLatin1(device::kNoDeviceState));
  }
}

void CQuorixDlg::OnDownload() {
  if (m_worker.running())
    return;  // the button is disabled meanwhile; never two sessions
  // Offline, or closed after a refused "~dboot": there is no port to talk through.
  if (!m_port || !m_port->IsOpen()) {
    Message(QString::fromUtf8(device::kCheckDeviceText));
    return;
  }
  m_shownPercent = -1;
  RunOnWorker([this] {
    EnterBootloader();
    // Otherwise the reason was shown already (or the dialog is closing).
    if (m_bootVersion != kNoBootVersion && !m_worker.cancelled())
      DownloadThreadProc();
  });
}

void CQuorixDlg::SetTransferControlsEnabled(bool enabled) {
  m_download->setEnabled(enabled);
  m_loadButton->setEnabled(enabled);
  m_areaCombo->setEnabled(enabled);
  m_portCombo->setEnabled(enabled);
  m_toggle->setEnabled(enabled && m_toggleWasEnabled);
}

void CQuorixDlg::EnterBootloader() {
  if (m_bootVersion != kNoBootVersion)
    return;
  ui::WaitCursor wait;
  device::DetectedState state;
  state.firmwareVersion = m_firmwareVersion;
  m_bootWaitBusy = false;
  const device::BootEntry entry = device::EnterBootloader(m_port, state, *this);
  if (m_bootWaitBusy)
    EndBusy();
  switch (entry) {
    case device::BootEntry::kAlreadyRunning:
    case device::BootEntry::kCancelled:
      return;
    case device::BootEntry::kEntered:
      m_bootVersion = *state.bootVersion;
      SetStatus(ui::FromCoreText(device::FormatBootVersion(m_bootVersion)));
      return;
    case device::BootEntry::kRefused:  // the flow closed the port; the captions stay
      Message(QString::fromUtf8(device::kCheckDeviceText));
      return;
    case device::BootEntry::kNoAnswer:  // the reopened port, if any, stays open
      Message(QString::fromUtf8(device::kNoAnswerText));
      return;
  }
}

void CQuorixDlg::BootRequested(protocol::BootModeOutcome outcome) {
  // Acknowledged or unanswered: the wait for the restarting device begins, marked busy.
  if (outcome != protocol::BootModeOutcome::kRefused) {
    BeginBusy();
    m_bootWaitBusy = true;
  }
}

int CQuorixDlg::DownloadThreadProc() {
  BeginBusy();
  const std::int32_t result = device::RunDownload(*m_port, m_segments, m_downloadFlags, *this);
  if (result != 0) {
    Message(ui::FromCoreText(device::CommErrorMessage(result)));
    EndBusy();
    return -1;
  }
  Log("%s", device::kDownloadDoneLog);
  if (device::WaitScaled(device::kRedetectWait, m_worker.cancelToken()) != 0) {
    EndBusy();
    return -1;
  }
  DetectDevice();
  if (m_worker.cancelled()) {  // closed during the detection: it did not finish
    EndBusy();
    return -1;
  }
  Log("%s", device::kFinishedLog);
  EndBusy();
  return 0;
}

void CQuorixDlg::Progress(std::int32_t percent) {
  // Only a changed position goes to the UI thread.
  if (percent != m_shownPercent) {
    m_shownPercent = percent;
    ui::RunOnUiThread(this, [this, percent] { m_progress->setValue(percent); });
  }
}

}  // namespace vantor::quorix
