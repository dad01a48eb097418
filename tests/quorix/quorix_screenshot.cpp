// Takes docs/quorix.png: Quorix's dialog after a download into the simulated device (firmware
// running, so the bootloader entry happens too). Run on an X server by
// scripts/screenshot_quorix.sh.
#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QTest>

#include <cstdio>
#include <fstream>

#include "quorix/quorix_dlg.h"
#include "ui/message_box.h"
#include "ui/simulator.h"

int main(int argc, char** argv) {
  using namespace vantor;
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: quorix_screenshot <image.bin to write> <out.png>\n");
    return 2;
  }
  // A message box would wait for a user: print it instead and fail.
  bool failed = false;
  ui::SetMessageHook([&](const ui::MessageRequest& request) {
    std::fprintf(stderr, "message: %s\n", request.text.toUtf8().constData());
    failed = true;
  });
  auto simulator = ui::StartSimulator(/*firmwareState=*/true);
  if (!simulator)
    return 1;
  {
    std::ofstream image(argv[1], std::ios::binary);
    for (int i = 0; i < 24576; ++i)
      image.put(static_cast<char>(i * 13));
  }
  quorix::CQuorixDlg dialog;
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog))
    return 1;
  dialog.LoadBinaryFile(QString::fromLocal8Bit(argv[1]));
  QComboBox* ports = dialog.portCombo();
  ports->setCurrentIndex(ports->findText(QString::fromStdString(simulator->portName())));
  emit ports->activated(ports->currentIndex());
  QTest::mouseClick(dialog.linkToggle(), Qt::LeftButton);
  dialog.WaitForWorker();  // the detection runs on the worker
  QTest::mouseClick(dialog.downloadButton(), Qt::LeftButton);
  dialog.WaitForWorker();
  QTest::qWait(300);  // let the last repaint through
  if (!dialog.grab().save(QString::fromLocal8Bit(argv[2])))
    failed = true;
  return failed ? 1 : 0;
}
