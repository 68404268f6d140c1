#include "common/ProgramFolder.h"
#include "common/ui/AppIcon.h"
#include "updater/ui/FrmLoad.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(appIcon());
    FrmLoad window(Lj());
    QObject::connect(&window, &FrmLoad::ended, &app, [] { QCoreApplication::exit(0); });
    window.start();
    return app.exec();
}
