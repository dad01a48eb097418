// The fixture of Pelion's dialog tests: a simulated device on a pty listed as a port, the real
// dialog with that port selected, message boxes captured, and helpers to press buttons, drop
// files and make image files (in a folder of the test's own).
#pragma once

#include <QPoint>
#include <QString>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devsim/pty_transport.h"
#include "pelion/pelion_dlg.h"
#include "support/test_files.h"
#include "ui/message_box.h"

namespace vantor::pelion::testing {

class PelionTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the device (listed as a port) and builds the dialog with its port selected.
  void StartWithDevice(devsim::DeviceOptions options = {});
  // Builds the dialog without a device.
  void StartWithoutDevice();

  void Press(int id);                           // a mouse click on button `id`
  void PressAndWait(int id);                    // ... and waits for the worker it started
  void Drop(int id, const QStringList& files);  // files dropped on the centre of control `id`
  QString WriteImage(const std::string& name, const std::vector<std::uint8_t>& bytes);
  std::vector<std::uint32_t> SegmentAddresses() const;
  std::vector<QString> MessageTexts() const;

  vantor::testing::TempFolder m_dir;
  std::unique_ptr<devsim::PtyDevice> m_device;
  std::unique_ptr<CPelionDlg> m_dlg;
  std::vector<ui::MessageRequest> m_messages;
};

}  // namespace vantor::pelion::testing
