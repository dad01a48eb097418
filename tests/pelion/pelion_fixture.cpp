// The fixture of Pelion's dialog tests (see pelion_fixture.h).
#include "pelion_fixture.h"

#include <QTest>

#include "serial/port_enumeration.h"
#include "ui/paths.h"

namespace vantor::pelion::testing {

void PelionTest::SetUp() {
  ui::SetMessageHook([this](const ui::MessageRequest& request) { m_messages.push_back(request); });
}

void PelionTest::TearDown() {
  if (m_dlg) {
    m_dlg->WaitForWorker();
    m_dlg.reset();
  }
  ui::SetMessageHook({});
  if (m_device) {
    serial::RemoveVirtualPort(m_device->path());
    m_device.reset();
  }
}

void PelionTest::StartWithDevice(devsim::DeviceOptions options) {
  int error = 0;
  m_device = devsim::PtyDevice::Start(std::move(options), &error);
  ASSERT_NE(m_device, nullptr) << "no pseudo-terminal: " << error;
  serial::AddVirtualPort(m_device->path());
  StartWithoutDevice();
  const int index = m_dlg->comPorts()->findText(QString::fromStdString(m_device->path()));
  ASSERT_GE(index, 0);
  m_dlg->comPorts()->setCurrentIndex(index);
}

void PelionTest::StartWithoutDevice() {
  m_dlg = std::make_unique<CPelionDlg>();
  m_dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
}

void PelionTest::Press(int id) {
  QWidget* button = m_dlg->control(id);
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

void PelionTest::PressAndWait(int id) {
  Press(id);
  m_dlg->WaitForWorker();
}

void PelionTest::Drop(int id, const QStringList& files) {
  QWidget* target = m_dlg->control(id);
  ASSERT_NE(target, nullptr);
  m_dlg->OnDropFiles(target->geometry().center(), files);
}

QString PelionTest::WriteImage(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::filesystem::path path = m_dir / name;
  vantor::testing::WriteFileBytes(path, bytes);
  return ui::FromPath(path);
}

std::vector<std::uint32_t> PelionTest::SegmentAddresses() const {
  std::vector<std::uint32_t> addresses;
  for (const protocol::Segment& segment : m_dlg->segments()) {
    addresses.push_back(segment.address);
  }
  return addresses;
}

std::vector<QString> PelionTest::MessageTexts() const {
  std::vector<QString> texts;
  for (const ui::MessageRequest& request : m_messages) {
    texts.push_back(request.text);
  }
  return texts;
}

}  // namespace vantor::pelion::testing
