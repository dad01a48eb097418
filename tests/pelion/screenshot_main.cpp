// pelion_screenshot OUT.png: builds the real Pelion dialog, uploads the firmware and boot regions
// from the simulated device and saves a picture of the window (run under Xvfb by
// scripts/screenshot_pelion.sh).
#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

#include "devsim/pty_transport.h"
#include "pelion/pelion_dlg.h"
#include "pelion/slots.h"
#include "serial/port_enumeration.h"

using namespace vantor;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pelion"));
  if (argc < 2) {
    std::fprintf(stderr, "usage: pelion_screenshot OUT.png\n");
    return 2;
  }
  devsim::DeviceOptions options;
  options.initialMemory.resize(devsim::kWindowSize);
  for (std::size_t i = 0; i < options.initialMemory.size(); ++i) {
    options.initialMemory[i] = static_cast<std::uint8_t>((i * 13 + (i >> 6)) & 0xFF);
  }
  auto device = devsim::PtyDevice::Start(options);
  if (!device) {
    std::fprintf(stderr, "no pseudo-terminal\n");
    return 1;
  }
  serial::AddVirtualPort(device->path());
  ui::SetMessageHook([](const ui::MessageRequest& request) {
    std::fprintf(stderr, "box: %s\n", request.text.toUtf8().constData());
  });

  pelion::CPelionDlg dialog;
  dialog.comPorts()->setCurrentIndex(
      dialog.comPorts()->findText(QString::fromStdString(device->path())));
  dialog.checkBox(pelion::IDC_CHECK_FIRMWARE)->click();
  dialog.checkBox(pelion::IDC_CHECK_BOOT)->click();
  dialog.show();
  QTimer::singleShot(200, [&] {
    dialog.button(pelion::IDC_UPLOAD)->click();
    dialog.WaitForWorker();
    QApplication::processEvents();
    const bool saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]));
    std::fprintf(stderr, saved ? "saved %s\n" : "could not save %s\n", argv[1]);
    QApplication::exit(saved ? 0 : 1);
  });
  const int result = QApplication::exec();
  serial::RemoveVirtualPort(device->path());
  return result;
}
