// CQuorixDlg's link to the device (online/offline, detection, bootloader entry) and the download
// worker with its progress. Everything that talks to the device runs on the dialog's worker, whose
// cancel token every port points at: a close ends each wait at once.
#include "protocol/download.h"
#include "protocol/text_commands.h"
#include "quorix/quorix_dlg.h"
#include "serial/port_enumeration.h"

namespace vantor::quorix {

namespace {

// The program's fixed waits and the reopen bound.
constexpr std::chrono::milliseconds kBootloaderStartWait{3000};
constexpr std::chrono::milliseconds kAfterDownloadWait{7000};
constexpr std::chrono::milliseconds kReopenBound{5000};
constexpr std::chrono::milliseconds kReopenPause{100};

// The bootloader's version, asked at most twice; kNoBootVersion when neither answered.
std::uint32_t AskBootVersion(SerialPort* port) {
  BootLink link{port};
  std::uint32_t version = 0;
  if (QueryBootVersion(link, version) == 0)
    return version;
  if (QueryBootVersion(link, version) == 0)
    return version;
  return kNoBootVersion;
}

}  // namespace

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
  const std::vector<std::string> present = EnumerateComPorts();
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
  m_firmwareVersion = nullptr;
  SetStatus(QStringLiteral("no device"));
  SetToggleCaption(QStringLiteral("offline"));
  m_port.reset();  // closes the handle
  Log("%s", kDisconnectedLog);
}

void CQuorixDlg::GoOnline(const std::string& portName) {
  ui::WaitCursor wait;
  m_port = OpenPort(portName);
  if (!m_port->IsOpen()) {
    m_port.reset();
    Message(QString::fromUtf8(kNoAnswerText));
    return;
  }
  DetectDevice();
  if (m_bootVersion != kNoBootVersion || m_firmwareVersion != nullptr)
    Log("%s", kConnectedLog);
}

std::unique_ptr<SerialPort> CQuorixDlg::OpenPort(const std::string& name) {
  auto port = CreatePort(name, /*trace=*/true);
  port->cancel = m_worker.cancelToken();
  return port;
}

std::unique_ptr<SerialPort> CQuorixDlg::ReopenPort(std::unique_ptr<SerialPort> port) {
  if (!port)
    return nullptr;
  const std::string name = port->reopenPort;
  port.reset();
  // A device that re-enumerates after a restart may take a moment to come back; past the bound
  // (or once cancelled) it counts as not answering.
  const auto deadline = std::chrono::steady_clock::now() + kReopenBound;
  while (!m_worker.cancelled()) {
    auto fresh = OpenPort(name);
    if (fresh->IsOpen())
      return fresh;
    if (std::chrono::steady_clock::now() >= deadline)
      return nullptr;
    SleepUnlessCancelled(m_worker.cancelToken(), kReopenPause);
  }
  return nullptr;
}

void CQuorixDlg::DetectDevice() {
  ui::WaitCursor wait;
  m_port = ReopenPort(std::move(m_port));
  m_bootVersion = m_port ? AskBootVersion(m_port.get()) : kNoBootVersion;
  m_firmwareVersion = nullptr;
  if (m_port && m_bootVersion == kNoBootVersion && !m_worker.cancelled()) {
    BootLink link{m_port.get()};
    m_firmwareVersion = QueryFirmwareVersion(link);
  }
  if (m_bootVersion != kNoBootVersion) {
    SetStatus(BootVersionText(m_bootVersion));
    SetToggleCaption(QStringLiteral("online"));
  } else if (m_firmwareVersion != nullptr) {
    SetStatus(ui::FromLineText(m_firmwareVersion));
    SetToggleCaption(QStringLiteral("online"));
  } else {
    Message(QString::fromUtf8(kNoAnswerText));
    m_port.reset();
    SetToggleCaption(QStringLiteral("offline"));
    SetStatus(QStringLiteral("no device"));
  }
}

void CQuorixDlg::OnDownload() {
  if (m_worker.running())
    return;  // the button is disabled meanwhile; never two sessions
  // Offline, or closed after a refused "~dboot": there is no port to talk through.
  if (!m_port || !m_port->IsOpen()) {
    Message(QString::fromUtf8(kCheckDeviceText));
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
  BootLink link{m_port.get()};
  const BootModeOutcome outcome = RequestBootMode(link);
  if (outcome == BootModeOutcome::kAcknowledged || outcome == BootModeOutcome::kSilent) {
    WaitForBootloader();
    return;
  }
  Message(QString::fromUtf8(kCheckDeviceText));
  m_port.reset();
}

int CQuorixDlg::WaitForBootloader() {
  BeginBusy();
  // The device restarts into its bootloader meanwhile.
  if (SleepUnlessCancelled(m_worker.cancelToken(), ui::ScaledWait(kBootloaderStartWait)) != 0) {
    EndBusy();
    return -1;
  }
  m_port = ReopenPort(std::move(m_port));
  m_bootVersion = m_port ? AskBootVersion(m_port.get()) : kNoBootVersion;
  if (m_bootVersion != kNoBootVersion) {
    SetStatus(BootVersionText(m_bootVersion));
    EndBusy();
    return 0;
  }
  Message(QString::fromUtf8(kNoAnswerText));
  EndBusy();
  return -1;
}

int CQuorixDlg::DownloadThreadProc() {
  BeginBusy();
  std::int32_t result = 0;
  {
    TransferContext context;
    context.link = BootLink{m_port.get()};
    result =
        DownloadSegments(m_segments, context, &CQuorixDlg::UpdateProgress, this, m_downloadFlags);
  }
  if (result != 0) {
    Message(QStringLiteral("통신에러 \n") + QString::number(result));
    EndBusy();
    return -1;
  }
  Log("%s", kDownloadDoneLog);
  if (SleepUnlessCancelled(m_worker.cancelToken(), ui::ScaledWait(kAfterDownloadWait)) != 0) {
    EndBusy();
    return -1;
  }
  DetectDevice();
  if (m_worker.cancelled()) {  // closed during the detection: it did not finish
    EndBusy();
    return -1;
  }
  Log("%s", kFinishedLog);
  EndBusy();
  return 0;
}

std::int32_t CQuorixDlg::UpdateProgress(void* userData, std::int32_t percent) {
  auto* dialog = static_cast<CQuorixDlg*>(userData);
  // Only a changed position goes to the UI thread.
  if (percent != dialog->m_shownPercent) {
    dialog->m_shownPercent = percent;
    ui::RunOnUiThread(dialog, [dialog, percent] { dialog->m_progress->setValue(percent); });
  }
  return percent;
}

}  // namespace vantor::quorix
