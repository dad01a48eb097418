// CQuorixApp: starts the toolkit, shows the main dialog modally and ends when it closes.
// `--simulator` first starts the simulated device (running its firmware) on a pseudo-terminal,
// which the COM combo then lists.
#include <QApplication>
#include <QCommandLineParser>

#include "quorix/quorix_dlg.h"
#include "ui/ui.h"

namespace vantor::quorix {

class CQuorixApp {
 public:
  int InitInstance(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppName));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setWindowIcon(QuorixIcon());
    QApplication::setOrganizationName(
        QStringLiteral("로컬 응용 프로그램 마법사에서 생성된 응용 프로그램"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes one binary file into one area of the device."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulator(
        QStringLiteral("simulator"),
        QStringLiteral("Start a simulated device (running its firmware) and list its port."));
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
