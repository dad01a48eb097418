// CQuorixDlg's template, start-up, port list, areas, file loading and drops, closing; CAboutDlg;
// the busy mark; the link toggle's look. The link and the download worker are in link.cpp.
#include "quorix/quorix_dlg.h"

#include <qdrawutil.h>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QTimeZone>
#include <QUrl>

#include <cstdarg>

#include "device/image_files.h"
#include "serial/port_enumeration.h"
#include "ui/closing.h"
#include "ui/dialog_units.h"
#include "ui/drops.h"
#include "ui/icon.h"
#include "ui/paths.h"
#include "ui/system_menu.h"
#include "ui/texts.h"

namespace vantor::quorix {

int g_busyCount = 0;
CQuorixDlg* g_mainDlg = nullptr;

namespace {

constexpr unsigned kAboutCommand = 0x10;
const QString kAboutItem = QStringLiteral("Quorix 정보(&A)...");

// The area field's text: "0x%06x(%i)" of offset and size.
QString AreaFieldText(const device::Area& area) {
  return QString::asprintf("0x%06x(%i)", static_cast<unsigned>(area.offset), area.size);
}

}  // namespace

QIcon QuorixIcon() {
  return ui::ApplicationIcon(QStringLiteral(":/icons/quorix.svg"));
}

QString OpenFileFilter() {
#ifdef Q_OS_WIN
  return QStringLiteral("Binary (*.bin);;All (*.*)");
#else
  return QStringLiteral("Binary (*.bin);;All (*)");
#endif
}

void FlatEdgeButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  QPainter painter(this);
  qDrawShadeRect(&painter, rect(), palette(), /*sunken=*/true, 1);
}

void BeginBusy() {
  ui::RunOnUiThread(g_mainDlg, [] {
    if (g_busyCount == 0)
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ++g_busyCount;
  });
}

void EndBusy() {
  ui::RunOnUiThread(g_mainDlg, [] {
    if (g_busyCount > 0) {
      --g_busyCount;
      if (g_busyCount == 0)
        QGuiApplication::restoreOverrideCursor();
    }
  });
}

// --- CAboutDlg (template 100) ----------------------------------------------------------------

CAboutDlg::CAboutDlg(QWidget* parent)
    : ui::AboutBox({QStringLiteral("Quorix 정보"),
                    QuorixIcon(),
                    {QStringLiteral("Quorix, 버전 1.0"), QStringLiteral("Copyright (C) 2024")}},
                   parent) {}

// --- CQuorixDlg ------------------------------------------------------------------------------

CQuorixDlg::CQuorixDlg(QWidget* parent) : QDialog(parent) {
  CreateControls();
  OnInitDialog();
}

CQuorixDlg::~CQuorixDlg() {
  // A worker still running (the dialog was never closed) is cancelled and ends first.
  m_worker.Abandon();
  m_worker.WaitWhileProcessingEvents();
  if (g_mainDlg == this)
    g_mainDlg = nullptr;
}

void CQuorixDlg::done(int result) {
  if (!ui::BeginClosing(this))
    return;  // closing already: Escape twice, or close box then Escape
  m_worker.Abandon();
  m_worker.WaitWhileProcessingEvents();
  m_port.reset();  // released now, not when the process ends
  QDialog::done(result);
}

void CQuorixDlg::CreateControls() {
  m_font = ui::DialogFont();
  setFont(m_font);
  // Pop-up with caption, system menu and a resizable border; no minimise or maximise boxes.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setAcceptDrops(true);
  resize(ui::DialogUnitsToPixels(m_font, 0, 0, 242, 138).size());

  // Template order. A drop-down list's template height includes its opened list.
  m_download = new QPushButton(QStringLiteral("DOWNLOAD"), this);
  ui::PlaceControl(m_download, m_font, 157, 18, 78, 23);
  m_areaCombo = new ui::DropDownList(this);
  m_areaCombo->Place(m_font, 158, 59, 77, 54);
  m_portCombo = new ui::PortCombo(this);
  m_portCombo->Place(m_font, 7, 7, 76, 30);
  m_loadButton = new QPushButton(QStringLiteral("Load Binary File"), this);
  ui::PlaceControl(m_loadButton, m_font, 7, 34, 77, 14);
  m_infoPane = new LogPane(this);
  m_infoPane->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_infoPane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // scrolls, shows no bars
  m_infoPane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_infoPane->setEnabled(false);
  ui::PlaceControl(m_infoPane, m_font, 7, 52, 127, 32);
  m_pathField = new QLineEdit(this);
  m_pathField->setReadOnly(true);
  m_pathField->setEnabled(false);
  m_pathField->setAcceptDrops(false);
  ui::PlaceControl(m_pathField, m_font, 7, 85, 228, 14);
  m_areaField = new QLineEdit(this);
  m_areaField->setEnabled(false);
  m_areaField->setAcceptDrops(false);
  ui::PlaceControl(m_areaField, m_font, 158, 71, 77, 13);
  m_logPane = new LogPane(this);
  m_logPane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_logPane->setEnabled(false);
  ui::PlaceControl(m_logPane, m_font, 7, 100, 228, 31);
  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  ui::PlaceControl(m_progress, m_font, 158, 44, 77, 7);
  m_status = new QLabel(QStringLiteral("no device"), this);
  m_status->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  ui::PlaceControl(m_status, m_font, 157, 7, 78, 9);
  m_toggle = new FlatEdgeButton(QStringLiteral("offline"), this);
  m_toggle->setFlat(true);
  m_toggle->setEnabled(false);
  ui::PlaceControl(m_toggle, m_font, 87, 7, 31, 12);

  // No default button: Enter presses the focused button (see keyPressEvent).
  for (QPushButton* button : {m_download, m_loadButton, static_cast<QPushButton*>(m_toggle)})
    button->setAutoDefault(false);

  connect(m_portCombo, &QComboBox::activated, this, [this] { OnPortChange(); });
  connect(m_areaCombo, &QComboBox::activated, this, [this] { OnAreaChange(); });
  connect(m_loadButton, &QPushButton::clicked, this, [this] { OnLoadBinaryFile(); });
  connect(m_download, &QPushButton::clicked, this, [this] { OnDownload(); });
  connect(m_toggle, &QPushButton::clicked, this, [this] { OnLinkToggle(); });
  connect(m_portCombo, &ui::PortCombo::aboutToDropDown, this, [this] { OnPortDropDown(); });
}

void CQuorixDlg::OnInitDialog() {
  ui::AppendSystemMenuItem(this, kAboutCommand, kAboutItem);
  setWindowIcon(QuorixIcon());
  setWindowTitle(QStringLiteral("DOWNLOAD ") + QStringLiteral("1.0"));
  g_mainDlg = this;
  protocol::ClearSegments(m_segments);
  m_downloadFlags = 0;
  m_bootVersion = kNoBootVersion;
  m_firmwareVersion.reset();
  ListPorts();
  for (const device::Area& area : device::kAreas)
    m_areaCombo->addItem(QString::fromLatin1(area.name));
  m_portCombo->setPlaceholderText(QStringLiteral("select comport"));
  m_areaCombo->setPlaceholderText(QStringLiteral("select area"));
  m_areaCombo->setCurrentIndex(0);
  ApplyArea();
  m_filePath.clear();
}

void CQuorixDlg::ListPorts() {
  m_portCombo->clear();
  for (const std::string& name : serial::EnumerateComPorts()) {
    m_portCombo->AddSorted(QString::fromStdString(name));
  }
  m_portCombo->setCurrentIndex(-1);
}

void CQuorixDlg::Message(const QString& text, ui::MessageIcon icon) {
  ui::ShowMessage({this, QString::fromLatin1(kAppName), text, icon});
}

void CQuorixDlg::OnSysCommand(unsigned command) {
  if ((command & 0xFFF0) == kAboutCommand) {
    CAboutDlg about(this);
    about.exec();
  }
}

bool CQuorixDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  const std::optional<unsigned> command = ui::SystemCommand(eventType, message);
  if (command && (*command & 0xFFF0) == kAboutCommand) {
    OnSysCommand(*command);
    *result = 0;
    return true;
  }
  return QDialog::nativeEvent(eventType, message, result);
}

void CQuorixDlg::contextMenuEvent(QContextMenuEvent* event) {
  // Where the window has no system menu to extend, the about item is on the context menu.
  if (ui::HasSystemMenu()) {
    QDialog::contextMenuEvent(event);
    return;
  }
  QMenu menu(this);
  menu.addAction(kAboutItem, this, [this] { OnSysCommand(kAboutCommand); });
  menu.exec(event->globalPos());
}

void CQuorixDlg::keyPressEvent(QKeyEvent* event) {
  // While the worker runs, the button that had the focus (DOWNLOAD, the toggle) is disabled and
  // cannot be pressed: Enter neither closes the dialog nor cancels the download.
  if (ui::IsEnterKey(event) && m_worker.running())
    return;
  if (!ui::HandleEnterKey(this, event))
    QDialog::keyPressEvent(event);
}

void CQuorixDlg::OnPortDropDown() {
  ListPorts();
}

void CQuorixDlg::OnPortChange() {
  m_toggle->setEnabled(m_portCombo->currentIndex() >= 0);
}

void CQuorixDlg::OnAreaChange() {
  ApplyArea();
}

void CQuorixDlg::ApplyArea() {
  const QString name = m_areaCombo->currentText();
  m_areaField->setEnabled(false);
  m_downloadFlags = 0;
  QString field;
  if (const device::Area* area = device::FindArea(name.toStdString())) {
    m_areaAddress = area->offset;
    m_areaSize = area->size;
    m_areaRule = area->rule;
    m_downloadFlags = area->downloadFlags;
    field = AreaFieldText(*area);
  }
  m_areaField->setText(field);
}

void CQuorixDlg::OnLoadBinaryFile() {
  const QString path =
      QFileDialog::getOpenFileName(nullptr, QString(), QString(), OpenFileFilter());
  if (!path.isEmpty())
    LoadBinaryFile(path);
}

bool CQuorixDlg::AcceptsDrops() const {
  return !m_worker.running();
}

void CQuorixDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (AcceptsDrops() && event->mimeData()->hasUrls())
    event->acceptProposedAction();
}

void CQuorixDlg::dragMoveEvent(QDragMoveEvent* event) {
  if (AcceptsDrops() && event->mimeData()->hasUrls())
    event->acceptProposedAction();
}

void CQuorixDlg::dropEvent(QDropEvent* event) {
  // Refused while a download uses the segment list.
  if (!AcceptsDrops() || !event->mimeData()->hasUrls())
    return;
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile())
    return;
  const QString path = urls.first().toLocalFile();  // further files of the drop are ignored
  QWidget* target = ui::ChildAtDropPoint(this, event->position().toPoint());
  if (target == m_infoPane || target == m_pathField) {
    LoadBinaryFile(path);
    event->acceptProposedAction();
  }
}

void CQuorixDlg::LoadBinaryFile(const QString& path) {
  m_pathField->setText(ui::NativePathText(path));
  m_fileSize = ShowFileInfo(path, m_infoPane);
  m_filePath = path;
  ApplyArea();
  // CODE (up to its size) and BOOT (any size) take the file's own size.
  if (m_areaRule != device::SizeRule::kExact) {
    m_areaSize = m_fileSize;
  }
  const device::ImagePlace* place =
      device::FindPlace(device::AreaPlaces(), m_areaCombo->currentText().toStdString());
  if (place == nullptr) {
    return;
  }
  // The device layer applies the area's size rule; a file it cannot read also takes the area's
  // earlier image out of the list, so the path field never names a file other than the one sent.
  const device::TakenImage taken = device::TakeImageFile(
      device::AreaPlaces(), place, ui::ToPath(m_filePath), device::ImageFormats::kRaw, m_segments);
  if (taken.fault == device::TakeFault::kTooLarge) {
    Message(ui::FromCoreText(taken.text));
  } else if (taken.fault == device::TakeFault::kWrongBlockSize) {
    Message(ui::FromCoreText(taken.text), ui::MessageIcon::kNone);
  }
}

std::int32_t CQuorixDlg::ShowFileInfo(const QString& path, LogPane* pane) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return -1;
  const QFileInfo info(file);
  // The low 32 bits of the size, as the system reports it.
  const auto size = static_cast<std::int32_t>(static_cast<std::uint32_t>(file.size()));
  const QDateTime written = file.fileTime(QFileDevice::FileModificationTime).toUTC();
  const QDate date = written.date();
  const QTime time = written.time();
  AppendText(QStringLiteral("file name : ") + info.fileName() + QStringLiteral("\n"), pane);
  AppendText(QString::asprintf("file size : %i\n", size), pane);
  AppendText(QString::asprintf("file date : %04d.%02d.%02d %02d:%02d:%02d\n", date.year(),
                               date.month(), date.day(), time.hour(), time.minute(), time.second()),
             pane);
  return size;
}

void CQuorixDlg::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const QString text = QString::vasprintf(format, args);
  va_end(args);
  AppendText(text, m_logPane);
}

}  // namespace vantor::quorix
