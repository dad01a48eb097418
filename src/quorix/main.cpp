// CQuorixApp: starts the toolkit, shows the main dialog modally and ends when it closes.
// `--simulator` first starts the simulated device (running its firmware) on a pseudo-terminal,
// which the COM combo then lists.
#include <QApplication>
#include <QCommandLineParser>

#include <algorithm>
#include <iostream>

#include "quorix/quorix_dlg.h"
#include "ui/command_line.h"
#include "ui/simulator.h"
#include "ui/texts.h"
#include "vantor_version.h"

namespace vantor::quorix {

constexpr ui::ProgramOption kOptions[] = {
    {"--simulator", "Start a simulated device (running its firmware) and list its port."},
};
constexpr ui::ProgramInfo kProgram{"quorix", "Writes one binary file into one area of the device.",
                                   kOptions};

class CQuorixApp {
 public:
  int InitInstance(int argc, char** argv) {
    if (const auto code =
            ui::AnswerInfoOptions({argv + std::min(argc, 1), argv + argc}, kProgram, std::cout))
      return *code;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppName));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QApplication::setWindowIcon(QuorixIcon());
    QApplication::setOrganizationName(
        QStringLiteral("로컬 응용 프로그램 마법사에서 생성된 응용 프로그램"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kProgram.description));
    const QCommandLineOption simulator(QStringLiteral("simulator"),
                                       QString::fromUtf8(kOptions[0].help));
    parser.addOption(simulator);
    parser.process(app);

    ui::InstallTraceSink();
    std::unique_ptr<ui::SimulatorHandle> device;
    if (parser.isSet(simulator)) {
      device = ui::StartSimulator(/*firmwareState=*/true);
      if (!device)
        return 1;
    }

    CQuorixDlg dialog;
    dialog.exec();
    return 0;
  }
};

}  // namespace vantor::quorix

int main(int argc, char** argv) {
  vantor::quorix::CQuorixApp theApp;
  return theApp.InitInstance(argc, argv);
}
