// The dialog under test: a CQuorixDlg on the offscreen platform, its message boxes collected,
// the program's fixed waits shortened, and helpers that act as the user would.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devsim/pty_transport.h"
#include "quorix/quorix_dlg.h"
#include "serial/port_enumeration.h"
#include "support/test_files.h"
#include "ui/message_box.h"
#include "ui/wait_scale.h"

namespace vantor::quorix::testing {

class QuorixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::SetWaitScaleForTests(0.01);
    ui::SetMessageHook([this](const ui::MessageRequest& request) {
      EXPECT_EQ(request.owner, m_dialog.get());
      EXPECT_EQ(request.caption, QString("Quorix"));
      m_messages.push_back(request.text);
      m_icons.push_back(request.icon);
      if (m_onMessage)
        m_onMessage();
    });
  }

  void TearDown() override {
    if (m_dialog)
      m_dialog->WaitForWorker();
    m_dialog.reset();
    if (m_device)
      serial::RemoveVirtualPort(m_device->path());
    m_device.reset();
    ui::SetMessageHook({});
    ui::SetWaitScaleForTests(1.0);
  }

  // The device listed as a port; the dialog is created afterwards so that it lists it.
  void StartDevice(devsim::DeviceOptions options) {
    options.restartDelay = std::chrono::milliseconds(10);
    int error = 0;
    m_device = devsim::PtyDevice::Start(std::move(options), &error);
    ASSERT_TRUE(m_device) << "no pseudo-terminal: " << error;
    serial::AddVirtualPort(m_device->path());
  }

  void OpenDialog() {
    m_dialog = std::make_unique<CQuorixDlg>();
    m_dialog->show();
  }

  void SelectPort(const std::string& name) {
    QComboBox* combo = m_dialog->portCombo();
    const int index = combo->findText(QString::fromStdString(name));
    ASSERT_GE(index, 0) << name << " not listed";
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  }

  void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

  // A device with `options`, the dialog, and the link online.
  void StartOnline(devsim::DeviceOptions options) {
    StartDevice(std::move(options));
    OpenDialog();
    GoOnline();
  }

  // Selects the device's port, presses the toggle and waits for the detection it starts.
  void GoOnline() {
    SelectPort(m_device->path());
    Click(m_dialog->linkToggle());
    m_dialog->WaitForWorker();
  }

  void SelectArea(const QString& name) {
    QComboBox* combo = m_dialog->areaCombo();
    const int index = combo->findText(name);
    ASSERT_GE(index, 0);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  }

  std::filesystem::path MakeFile(const std::string& name, std::size_t size) {
    const std::filesystem::path path = m_dir / name;
    vantor::testing::WriteFileBytes(path, vantor::testing::PatternBytes(size, 0));
    return path;
  }

  // Drops `paths` onto the dialog at `point` (dialog coordinates).
  void Drop(const std::vector<std::filesystem::path>& paths, QPoint point) {
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& p : paths)
      urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p.string())));
    data.setUrls(urls);
    // As a real drag: the drop comes only after the dialog accepted the drag's entry.
    QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_dialog.get(), &enter);
    if (!enter.isAccepted())
      return;
    QDropEvent drop(QPointF(point), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_dialog.get(), &drop);
  }
  static QPoint CentreOf(QWidget* control) { return control->geometry().center(); }

  std::vector<devsim::DeviceEvent> Events() {
    std::vector<devsim::DeviceEvent> events;
    m_device->With([&](devsim::Device& d) { events = d.events(); });
    return events;
  }
  void ClearEvents() {
    m_device->With([](devsim::Device& d) { d.ClearEvents(); });
  }

  // Presses DOWNLOAD and waits for the worker it starts (bootloader entry and download).
  void Download() {
    Click(m_dialog->downloadButton());
    m_dialog->WaitForWorker();
  }

  std::unique_ptr<devsim::PtyDevice> m_device;
  std::unique_ptr<CQuorixDlg> m_dialog;
  std::vector<QString> m_messages;
  std::vector<ui::MessageIcon> m_icons;
  std::function<void()> m_onMessage;
  vantor::testing::TempFolder m_dir;  // the test's files
};

}  // namespace vantor::quorix::testing
