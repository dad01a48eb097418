// CPelionApp: starts the program, shows the main dialog modally and ends when it closes.
// `pelion --simulator` first starts the simulated device (bootloader) on a pseudo-terminal, so
// that its port is listed in the COM combo.
#include <QApplication>
#include <QStringList>

#include <algorithm>
#include <iostream>
#include <memory>

#include "pelion/pelion_dlg.h"
#include "ui/command_line.h"
#include "ui/simulator.h"
#include "ui/texts.h"

namespace vantor::pelion {

constexpr ui::ProgramOption kOptions[] = {
    {"--simulator", "Start a simulated device (in its bootloader) and list its port."},
};
constexpr ui::ProgramInfo kProgram{
    "pelion",
    "Writes image slots into the device, reads regions back, saves them and shows memory as a "
    "hex listing.",
    kOptions};

class CPelionApp {
 public:
  CPelionApp(int& argc, char** argv) : m_app(argc, argv) {
    QApplication::setApplicationName(QString::fromLatin1(kAppName));
    // The organisation carries the text of the registry key; nothing is stored under it.
    QApplication::setOrganizationName(
        QStringLiteral("로컬 응용 프로그램 마법사에서 생성된 응용 프로그램"));
  }

  int InitInstance() {
    ui::InstallTraceSink();
    std::unique_ptr<ui::SimulatorHandle> simulator;
    if (QApplication::arguments().contains(QString::fromLatin1(kOptions[0].name))) {
      simulator = ui::StartSimulator(/*firmwareState=*/false);
    }
    CPelionDlg dialog;
    dialog.exec();
    return 0;
  }

 private:
  QApplication m_app;
};

}  // namespace vantor::pelion

int main(int argc, char** argv) {
  using namespace vantor;
  if (const auto code = ui::AnswerInfoOptions({argv + std::min(argc, 1), argv + argc},
                                              pelion::kProgram, std::cout))
    return *code;
  vantor::pelion::CPelionApp theApp(argc, argv);
  return theApp.InitInstance();
}
