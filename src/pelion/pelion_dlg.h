// CPelionDlg: the Pelion main dialog (template 102): the hex view of the memory window, the five
// image slots fed by file drops, the transfer buttons and their workers (download, upload, upload
// log, load image: transfers.cpp), save, clear and the fixed file copy. CAboutDlg: the about box
// (template 100).
//
// Workers run one at a time on m_worker; while one runs, every control that touches the port or
// m_segments is disabled and drops are refused, so the list is never changed under a worker.
// Closing the dialog cancels a running worker through its port's cancel token and waits for its
// end (at once): no box appears after the close, and the port is free when the dialog is gone.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "pelion/hex_listing.h"
#include "pelion/path_field.h"
#include "protocol/segments.h"
#include "serial/serial_port.h"
#include "ui/about_box.h"
#include "ui/combos.h"
#include "ui/message_box.h"
#include "ui/wait_cursor.h"
#include "ui/worker.h"

namespace vantor::pelion {

class CImageWnd;

// The application's name: the caption of its message boxes.
inline constexpr const char* kAppName = "Pelion";
// The system command of the about item.
inline constexpr int IDM_ABOUTBOX = 0x0010;

QIcon PelionIcon();

class CAboutDlg : public ui::AboutBox {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

class CPelionDlg : public QDialog {
 public:
  explicit CPelionDlg(QWidget* parent = nullptr);
  ~CPelionDlg() override;

  // --- Handlers (UI thread) ---
  void OnSysCommand(int id);
  void OnSlotToggle(int slot);  // index into kImageSlots
  void OnBinaryToggle();
  // `point` in dialog coordinates; only the first file is taken.
  void OnDropFiles(const QPoint& point, const QStringList& files);
  void OnDownloadBinary();
  void OnUpload();
  void OnSave();
  void OnClear();
  void OnUploadLog();
  void OnLoadImage();
  void OnButton7();

  // --- Hex listing ---
  void ResetHexListing();
  // Lists every segment of m_segments at its address's line. Any thread.
  void ShowSegments();
  void ListSegment(HexListView* list, const protocol::Segment& segment, std::int64_t first);
  void ListSegmentsFromTop(HexListView* list, const protocol::SegmentList& segments);

  // Fills the port combo with the ports present now (at start and each time it drops down).
  void ListPorts();
  // The selected port's name; empty when nothing is selected.
  std::string SelectedPortNumber() const;

  // Every transfer's progress: sets progress bar 1003. Worker thread.
  void UpdateProgress(std::int32_t percent);

  // --- Access for the program and its tests ---
  QWidget* control(int id) const;
  QCheckBox* checkBox(int id) const;
  PathField* pathField(int id) const;
  QPushButton* button(int id) const;
  HexListView* hexView() const { return m_hexView; }
  ui::PortCombo* comPorts() const { return m_comPorts; }
  QProgressBar* progress() const { return m_progress; }
  QMenu* systemMenu() const { return m_systemMenu; }
  const protocol::SegmentList& segments() const { return m_segments; }
  std::uint32_t downloadFlags() const { return m_downloadFlags; }
  const QFont& listFont() const { return m_listFont; }
  const QFont& buttonFont() const { return m_buttonFont; }
  bool workerRunning() const { return m_worker.running(); }
  // Waits for the running worker, keeping events going (tests, closing).
  void WaitForWorker() { m_worker.WaitWhileProcessingEvents(); }

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Windows: the about item of the system menu (WM_SYSCOMMAND).
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
  // Ends the dialog; a running worker is cancelled and its end awaited first.
  void done(int result) override;

 private:
  void CreateControls();
  void OnInitDialog();
  // A port for a transfer: the selection's name, opened, its waits on the worker's cancel token
  // (which closing the dialog cancels); null (after telling the user) when nothing is selected or
  // the port does not open.
  std::unique_ptr<serial::SerialPort> OpenSelectedPort();
  // Starts `work` on m_worker with the port-and-list controls disabled (and the wait cursor shown,
  // unless `waitCursor` is false) until it ends.
  void StartWorker(std::function<void()> work, bool waitCursor = true);
  void SetBusy(bool busy);
  void Message(const QString& text, ui::MessageIcon icon = ui::MessageIcon::kNone,
               const QString& caption = QString::fromLatin1(kAppName));

  void DownloadWorker(serial::SerialPort& port);
  void UploadThread(serial::SerialPort& port, bool binary, const std::array<bool, 4>& slotChecked);
  void LoadImageThread(const std::array<bool, 4>& slotChecked, const std::array<QString, 4>& paths);

  std::uint32_t m_downloadFlags = 0;
  protocol::SegmentList m_segments;
  std::unique_ptr<serial::SerialPort> m_port;
  ui::Worker m_worker;
  QFont m_listFont;
  QFont m_buttonFont;
  QIcon m_icon;

  std::map<int, QWidget*> m_controls;
  HexListView* m_hexView = nullptr;
  QProgressBar* m_progress = nullptr;
  ui::PortCombo* m_comPorts = nullptr;
  QMenu* m_systemMenu = nullptr;
  std::optional<ui::WaitCursor> m_workerCursor;
  bool m_busy = false;
};

}  // namespace vantor::pelion
