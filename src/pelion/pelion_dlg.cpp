// CPelionDlg's controls, start-up, about box, closing, save, the fixed file copy, slots and drops,
// and the hex listing; the transfers and their worker are in transfers.cpp. CAboutDlg.
#include "pelion/pelion_dlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <span>
#include <utility>

#include "device/files.h"
#include "device/image_files.h"
#include "device/texts.h"
#include "pelion/slots.h"
#include "serial/port_enumeration.h"
#include "ui/closing.h"
#include "ui/dialog_units.h"
#include "ui/drops.h"
#include "ui/icon.h"
#include "ui/paths.h"
#include "ui/system_menu.h"
#include "ui/texts.h"

namespace vantor::pelion {
namespace {

const QString kAboutItem = QStringLiteral("Pelion 정보(&A)...");

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

QIcon PelionIcon() {
  return ui::ApplicationIcon(QStringLiteral(":/icons/pelion.svg"));
}

// --- CAboutDlg -----------------------------------------------------------------------------------

CAboutDlg::CAboutDlg(QWidget* parent)
    : ui::AboutBox(
          {QStringLiteral("Pelion 정보"), PelionIcon(), {QStringLiteral("Pelion, 버전 1.0")}},
          parent) {}

// --- CPelionDlg: construction --------------------------------------------------------------------

CPelionDlg::CPelionDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_icon(PelionIcon()) {
  CreateControls();
  OnInitDialog();
}

CPelionDlg::~CPelionDlg() {
  // A worker still running (the dialog was never closed) is cancelled and ends first.
  m_worker.Abandon();
  m_worker.WaitWhileProcessingEvents();
}

void CPelionDlg::CreateControls() {
  const QFont font = ui::DialogFont();
  setFont(font);
  setWindowTitle(QString::fromLatin1(kAppName));
  setAcceptDrops(true);
  resize(ui::DialogUnitsToPixels(font, 0, 0, 517, 258).size());

  auto place = [&](int id, QWidget* control, int x, int y, int w, int h) {
    if (id != 0) {
      control->setObjectName(QString::number(id));
      m_controls[id] = control;
    }
    ui::PlaceControl(control, font, x, y, w, h);
  };
  auto addCheckBox = [&](int id, const char* caption, int x, int y, int w, int h) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), this);
    place(id, box, x, y, w, h);
    return box;
  };
  auto addPathField = [&](int id, bool staticEdge, int y) {
    place(id, new PathField(staticEdge, this), 257, y, 252, 12);
  };

  // Template order (also the tab order).
  m_hexView = new HexListView(this);
  place(IDC_HEX_VIEW, m_hexView, 7, 7, 242, 209);

  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  place(IDC_PROGRESS, m_progress, 7, 242, 502, 9);

  place(IDC_DOWNLOAD_BINARY, MakeButton(QStringLiteral("다운로드 바이너리"), this), 289, 157, 121,
        58);

  m_comPorts = new ui::PortCombo(this);
  m_comPorts->setObjectName(QString::number(IDC_COM_PORT));
  m_controls[IDC_COM_PORT] = m_comPorts;
  // The template's height includes the drop-down list; the closed box keeps its own height.
  m_comPorts->Place(font, 461, 221, 48, 30);

  addCheckBox(IDC_CHECK_OEM, "oem", 263, 61, 31, 8);
  addCheckBox(IDC_CHECK_BOOT, "boot", 262, 34, 31, 8);
  addCheckBox(IDC_CHECK_FIRMWARE, "firmware", 262, 10, 44, 8);
  addCheckBox(IDC_CHECK_BINARY, "binary", 264, 113, 36, 8);
  place(0, new QLabel(this), 7, 221, 402, 13);
  place(0, new QLabel(QStringLiteral("통신 포트"), this), 470, 210, 34, 8);
  addCheckBox(IDC_CHECK_PARAMETER, "parameter", 263, 87, 50, 8);
  place(IDC_UPLOAD, MakeButton(QStringLiteral("upload"), this), 459, 194, 50, 14);
  place(IDC_SAVE, MakeButton(QStringLiteral("save"), this), 459, 174, 50, 14);
  addPathField(IDC_PATH_FIRMWARE, false, 19);
  addPathField(IDC_PATH_BOOT, true, 43);
  addPathField(IDC_PATH_OEM, true, 70);
  addPathField(IDC_PATH_PARAMETER, true, 96);
  addPathField(IDC_PATH_BINARY, true, 122);
  place(IDC_CLEAR, MakeButton(QStringLiteral("clear"), this), 459, 137, 50, 14);
  place(IDC_UPLOAD_LOG, MakeButton(QStringLiteral("upload log"), this), 417, 219, 37, 14);
  place(IDC_LOAD_IMAGE, MakeButton(QStringLiteral("load image"), this), 459, 156, 50, 14);
  place(IDC_BUTTON7, MakeButton(QStringLiteral("Button7"), this), 325, 136, 50, 14);

  // Message map.
  auto onClick = [this](int id, void (CPelionDlg::*handler)()) {
    connect(static_cast<QAbstractButton*>(m_controls.at(id)), &QAbstractButton::clicked, this,
            [this, handler] { (this->*handler)(); });
  };
  onClick(IDC_DOWNLOAD_BINARY, &CPelionDlg::OnDownloadBinary);
  onClick(IDC_UPLOAD, &CPelionDlg::OnUpload);
  onClick(IDC_CHECK_BINARY, &CPelionDlg::OnBinaryToggle);
  onClick(IDC_SAVE, &CPelionDlg::OnSave);
  onClick(IDC_CLEAR, &CPelionDlg::OnClear);
  onClick(IDC_UPLOAD_LOG, &CPelionDlg::OnUploadLog);
  onClick(IDC_LOAD_IMAGE, &CPelionDlg::OnLoadImage);
  onClick(IDC_BUTTON7, &CPelionDlg::OnButton7);
  for (int slot = 0; slot < static_cast<int>(kImageSlots.size()); ++slot) {
    connect(checkBox(kImageSlots[slot].checkBox), &QAbstractButton::clicked, this,
            [this, slot] { OnSlotToggle(slot); });
  }
}

void CPelionDlg::OnInitDialog() {
  // The about item: in the window's system menu on Windows; elsewhere, where the window manager
  // owns that menu, in the dialog's context menu.
  ui::AppendSystemMenuItem(this, IDM_ABOUTBOX, kAboutItem);
  m_systemMenu = new QMenu(this);
  if (!kAboutItem.isEmpty()) {
    m_systemMenu->addSeparator();
    QAction* about = m_systemMenu->addAction(kAboutItem);
    about->setData(IDM_ABOUTBOX);
    connect(about, &QAction::triggered, this,
            [this, about] { OnSysCommand(about->data().toInt()); });
  }

  setWindowIcon(m_icon);
  protocol::ClearSegments(m_segments);

  // "Anonymous" bold 14 px where installed, else the system's fixed-pitch font, bold, same size.
  if (QFontDatabase::families().contains(QStringLiteral("Anonymous"))) {
    m_listFont = QFont(QStringLiteral("Anonymous"));
  } else {
    m_listFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  m_listFont.setPixelSize(14);
  m_listFont.setWeight(QFont::Bold);
  m_listFont.setStyleHint(QFont::TypeWriter);
  // 14 px where every line fits whole beside the scroll bar, else the largest size that does.
  m_listFont = m_hexView->SetFontToFit(m_listFont);

  QPushButton* download = button(IDC_DOWNLOAD_BINARY);
  m_buttonFont = download->font();
  m_buttonFont.setWeight(QFont::Bold);
  download->setFont(m_buttonFont);

  m_comPorts->clear();
  ListPorts();
  m_comPorts->setCurrentIndex(-1);
  connect(m_comPorts, &ui::PortCombo::aboutToDropDown, this, &CPelionDlg::ListPorts);

  ResetHexListing();
  m_downloadFlags = 0;
}

// --- Access --------------------------------------------------------------------------------------

QWidget* CPelionDlg::control(int id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}
QCheckBox* CPelionDlg::checkBox(int id) const {
  return qobject_cast<QCheckBox*>(control(id));
}
PathField* CPelionDlg::pathField(int id) const {
  return dynamic_cast<PathField*>(control(id));
}
QPushButton* CPelionDlg::button(int id) const {
  return qobject_cast<QPushButton*>(control(id));
}

void CPelionDlg::ListPorts() {
  // The ports present now, in the enumeration's order; the chosen one stays chosen while present.
  const QString chosen = m_comPorts->currentIndex() >= 0 ? m_comPorts->currentText() : QString();
  m_comPorts->clear();
  for (const std::string& name : serial::EnumerateComPorts()) {
    m_comPorts->addItem(QString::fromStdString(name));
  }
  m_comPorts->setCurrentIndex(chosen.isEmpty() ? -1 : m_comPorts->findText(chosen));
}

std::string CPelionDlg::SelectedPortNumber() const {
  const int index = m_comPorts->currentIndex();
  return index < 0 ? std::string() : m_comPorts->itemText(index).toStdString();
}

void CPelionDlg::Message(const QString& text, ui::MessageIcon icon, const QString& caption) {
  ui::ShowMessage({this, caption, text, icon});
}

// --- System menu, closing ------------------------------------------------------------------------

void CPelionDlg::OnSysCommand(int id) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.exec();
  }
}

bool CPelionDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  const std::optional<unsigned> command = ui::SystemCommand(eventType, message);
  if (command && (*command & 0xFFF0) == IDM_ABOUTBOX) {
    OnSysCommand(static_cast<int>(*command));
    *result = 0;
    return true;
  }
  return QDialog::nativeEvent(eventType, message, result);
}

void CPelionDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (ui::HasSystemMenu()) {
    QDialog::contextMenuEvent(event);
    return;
  }
  m_systemMenu->exec(event->globalPos());
}

void CPelionDlg::keyPressEvent(QKeyEvent* event) {
  // Enter clicks the push button that has the focus, and ends the dialog when none has it.
  if (ui::HandleEnterKey(this, event)) {
    return;
  }
  QDialog::keyPressEvent(event);
}

void CPelionDlg::done(int result) {
  // The close box, Escape and Enter all end here. A close while one is in progress does nothing.
  if (!ui::BeginClosing(this)) {
    return;
  }
  // The worker's port waits end at once; it then closes the port, shows no box and saves
  // nothing, and its end is awaited here so the port is free when the dialog is gone.
  m_worker.Abandon();
  m_worker.WaitWhileProcessingEvents();
  m_workerCursor.reset();  // an abandoned worker runs no finish
  QDialog::done(result);
}

// --- Save ----------------------------------------------------------------------------------------

void CPelionDlg::OnSave() {
  if (m_busy) {
    return;
  }
  QString summary;
  for (const protocol::Segment& segment : m_segments) {
    const std::filesystem::path path =
        device::DocumentsFolder() / device::ReadBackFileName(segment.address);
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(std::max(segment.length, 0)),
                                              segment.data.size());
    // The final box lists only the files written; a failed one had its own box.
    if (!device::WriteSegmentFile(path, std::span(segment.data.data(), length))) {
      Message(ui::FromCoreText(device::kCantSavedText) + ui::FromPath(path));
      continue;
    }
    summary += ui::FromPath(path) + QStringLiteral("\n");
  }
  Message(ui::FromCoreText(device::kSavedText) + summary);
}

// --- File copy -----------------------------------------------------------------------------------

void CPelionDlg::OnButton7() {
  const std::filesystem::path folder = device::DocumentsFolder();
  std::ifstream source(folder / kCopySourceName, std::ios::binary);
  if (!source) {
    return;
  }
  std::vector<std::uint8_t> buffer(kCopyBytes);
  source.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  buffer.resize(static_cast<std::size_t>(source.gcount()));
  source.close();
  // No message either way; a failed write leaves no partial file.
  (void)device::WriteSegmentFile(folder / kCopyDestinationName, buffer);
}

// --- Slots and drops -----------------------------------------------------------------------------

void CPelionDlg::OnSlotToggle(int slot) {
  const ImageSlot& entry = kImageSlots[static_cast<std::size_t>(slot)];
  PathField* field = pathField(entry.pathField);
  if (checkBox(entry.checkBox)->isChecked()) {
    if (field->text().isEmpty()) {
      field->setText(QString::fromLatin1(entry.device.defaultFileName));
    }
    field->setEnabled(true);
  } else {
    field->setEnabled(false);
  }
}

void CPelionDlg::OnBinaryToggle() {
  PathField* binaryField = pathField(IDC_PATH_BINARY);
  if (checkBox(IDC_CHECK_BINARY)->isChecked()) {
    for (const ImageSlot& slot : kImageSlots) {
      control(slot.checkBox)->setEnabled(false);
    }
    for (const ImageSlot& slot : kImageSlots) {
      control(slot.pathField)->setEnabled(false);
    }
    binaryField->setEnabled(true);
    if (binaryField->text().isEmpty()) {
      binaryField->setText(QString::fromLatin1(kBinaryDefaultFileName));
    }
  } else {
    for (const ImageSlot& slot : kImageSlots) {
      control(slot.checkBox)->setEnabled(true);
    }
    for (int slot = 0; slot < static_cast<int>(kImageSlots.size()); ++slot) {
      OnSlotToggle(slot);
    }
    binaryField->setEnabled(false);
  }
}

void CPelionDlg::OnDropFiles(const QPoint& point, const QStringList& files) {
  // Drops are refused while a worker uses the list.
  if (m_busy || files.isEmpty()) {
    return;
  }
  // The path as the platform writes it (backslashes on Windows).
  const QString path = ui::NativePathText(files.first());
  QWidget* child = ui::ChildAtDropPoint(this, point);
  for (std::size_t i = 0; i < kImageSlots.size(); ++i) {
    const ImageSlot& slot = kImageSlots[i];
    if (child == nullptr || child != control(slot.pathField)) {
      continue;
    }
    checkBox(slot.checkBox)->setChecked(true);  // no toggle: enabled states stay
    pathField(slot.pathField)->setText(path);
    // At the slot's offset, of its exact size. A file that cannot be read also takes the slot's
    // earlier image out: the field never names a file other than the one the download sends.
    const device::PlaceTable& places = device::DropPlaces();
    const device::TakenImage taken = device::TakeImageFile(
        places, &places.places[i], ui::ToPath(path), device::ImageFormats::kRaw, m_segments);
    if (!taken.text.empty()) {
      Message(ui::FromCoreText(taken.text));
    }
    return;
  }
}

void CPelionDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!m_busy && event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  }
}

void CPelionDlg::dragMoveEvent(QDragMoveEvent* event) {
  if (!m_busy && event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  }
}

void CPelionDlg::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      files.append(url.toLocalFile());
    }
  }
  OnDropFiles(event->position().toPoint(), files);
  event->acceptProposedAction();
}

// --- Hex listing ---------------------------------------------------------------------------------

void CPelionDlg::ResetHexListing() {
  m_hexView->ResetToPlaceholders();
}

void CPelionDlg::ShowSegments() {
  ui::RunOnUiThread(this, [this] {
    for (const protocol::Segment& segment : m_segments) {
      ListSegment(m_hexView, segment, LineIndexOf(segment.address));
    }
  });
}

void CPelionDlg::ListSegment(HexListView* list, const protocol::Segment& segment,
                             std::int64_t first) {
  list->ListSegment(segment, first);
}

void CPelionDlg::ListSegmentsFromTop(HexListView* list, const protocol::SegmentList& segments) {
  list->ListSegmentsFromTop(segments);
}

void CPelionDlg::OnClear() {
  if (m_busy) {
    return;
  }
  protocol::ClearSegments(m_segments);
  ResetHexListing();
}

}  // namespace vantor::pelion
