// CQuorixDlg, Quorix's main dialog (template 102): the COM port and link toggle, the area and file
// controls, DOWNLOAD with its progress bar, and the log pane; CAboutDlg (template 100); the busy
// mark shared with the download worker.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cstdint>
#include <memory>
#include <optional>

#include <functional>
#include <string>

#include "device/flows.h"
#include "device/memory_map.h"
#include "device/texts.h"
#include "protocol/segments.h"
#include "quorix/log_pane.h"
#include "serial/serial_port.h"
#include "ui/about_box.h"
#include "ui/combos.h"
#include "ui/message_box.h"
#include "ui/worker.h"

namespace vantor::quorix {

inline constexpr const char* kAppName = "Quorix";
inline constexpr std::uint32_t kNoBootVersion = 0xFFFFFFFF;

// Busy mark of long operations (the bootloader wait, the download worker): the wait cursor stays
// while g_busyCount is above 0. Callable from any thread; the count changes on the UI thread.
extern int g_busyCount;
void BeginBusy();
void EndBusy();

class CQuorixDlg;
extern CQuorixDlg* g_mainDlg;

// Icon 128 of the templates (window and about box): packaging/icons/quorix.svg, built in.
QIcon QuorixIcon();

// The open-file chooser's filters: "Binary" (*.bin) first, then "All" files, also those without
// an extension (which "*.*" would miss outside Windows).
QString OpenFileFilter();

// The link toggle: a flat push button with a static edge (a thin sunken border).
class FlatEdgeButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CAboutDlg : public ui::AboutBox {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

// The dialog is the observer of the device flows it runs: their progress moves the bar, the
// bootloader wait shows the busy cursor.
class CQuorixDlg : public QDialog, private device::FlowObserver {
 public:
  explicit CQuorixDlg(QWidget* parent = nullptr);
  ~CQuorixDlg() override;

  // Controls by their template IDs, for the program and its tests.
  QPushButton* downloadButton() const { return m_download; }   // 1000
  ui::DropDownList* areaCombo() const { return m_areaCombo; }  // 1001
  ui::PortCombo* portCombo() const { return m_portCombo; }     // 1002
  QPushButton* loadButton() const { return m_loadButton; }     // 1003
  LogPane* infoPane() const { return m_infoPane; }             // 1004
  QLineEdit* pathField() const { return m_pathField; }         // 1005
  QLineEdit* areaField() const { return m_areaField; }         // 1006
  LogPane* logPane() const { return m_logPane; }               // 1007
  QProgressBar* progressBar() const { return m_progress; }     // 1008
  QLabel* statusLine() const { return m_status; }              // 1011
  QPushButton* linkToggle() const { return m_toggle; }         // 1014

  // State, for tests.
  std::uint32_t bootVersion() const { return m_bootVersion; }
  std::uint32_t downloadFlags() const { return m_downloadFlags; }
  const protocol::SegmentList& segments() const { return m_segments; }
  const serial::SerialPort* port() const { return m_port.get(); }
  std::int32_t fileSize() const { return m_fileSize; }
  std::int32_t areaSize() const { return m_areaSize; }
  const QString& filePath() const { return m_filePath; }
  bool downloading() const { return m_worker.running(); }
  // Waits for a running download worker while serving the UI thread's events.
  void WaitForWorker() { m_worker.WaitWhileProcessingEvents(); }

  // Handlers (the controls' signals call them).
  void OnSysCommand(unsigned command);
  void OnPortChange();
  void OnAreaChange();
  void OnLoadBinaryFile();
  void OnDownload();
  void OnLinkToggle();
  void OnPortDropDown();
  // Closing (close box, Escape, Enter): a running worker is cancelled and waited for, no box
  // appears any more and the port is released. A close while one is under way does nothing.
  void done(int result) override;

  void ApplyArea();
  void LoadBinaryFile(const QString& path);
  std::int32_t ShowFileInfo(const QString& path, LogPane* pane);
  // printf-style line into the log pane (any thread).
  void Log(const char* format, ...);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Windows: the about item of the system menu (WM_SYSCOMMAND).
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void OnInitDialog();
  void CreateControls();
  void ListPorts();
  void Message(const QString& text, ui::MessageIcon icon = ui::MessageIcon::kInformation);
  bool AcceptsDrops() const;

  // The link and the download worker (link.cpp). Everything that talks to the device runs on the
  // worker, so that the UI thread keeps its events and a close can cancel it.
  void RunOnWorker(std::function<void()> work);
  void SetLink(bool online);
  void GoOnline(const std::string& portName);
  void DetectDevice();
  void EnterBootloader();
  int DownloadThreadProc();
  void BootRequested(protocol::BootModeOutcome outcome) override;
  void Progress(std::int32_t percent) override;
  void SetStatus(const QString& text);
  void SetToggleCaption(const QString& caption);
  // Disables (false) or restores (true) every control that touches the port or the segments.
  void SetTransferControlsEnabled(bool enabled);

  std::uint32_t m_downloadFlags = 0;
  std::uint32_t m_bootVersion = kNoBootVersion;
  std::optional<std::string> m_firmwareVersion;  // the text after "~Rv0000", without CR LF
  protocol::SegmentList m_segments;
  std::unique_ptr<serial::SerialPort> m_port;
  ui::Worker m_worker;
  QString m_filePath;
  std::int32_t m_fileSize = -1;
  std::uint32_t m_areaAddress = 0;
  std::int32_t m_areaSize = 0;
  device::SizeRule m_areaRule = device::SizeRule::kExact;
  int m_shownPercent = -1;          // the bar's last position set by the worker
  bool m_toggleWasEnabled = false;  // the toggle's state before a download
  bool m_bootWaitBusy = false;      // the bootloader wait marked itself busy

  QFont m_font;
  QPushButton* m_download = nullptr;
  ui::DropDownList* m_areaCombo = nullptr;
  ui::PortCombo* m_portCombo = nullptr;
  QPushButton* m_loadButton = nullptr;
  LogPane* m_infoPane = nullptr;
  QLineEdit* m_pathField = nullptr;
  QLineEdit* m_areaField = nullptr;
  LogPane* m_logPane = nullptr;
  QProgressBar* m_progress = nullptr;
  QLabel* m_status = nullptr;
  FlatEdgeButton* m_toggle = nullptr;
};

}  // namespace vantor::quorix
