// main.cpp: Kelpforge, the update builder. Without arguments it opens its window; with
// --build it runs the same build without a window (and without needing a display).
#include "builder/BuildCommand.h"
#include "builder/FrmMain.h"

#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Looked at before Qt is started, so that scripts run where no display is.
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (kelpforge::IsBuildCommand(args) ||
        (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))) {
        return kelpforge::RunBuildCommand(args, std::cout, std::cerr);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelpforge"));
    kelpforge::TFrmMain form;
    form.show();
    return QApplication::exec();
}
