// The main program of builds without Qt WebEngine (the mingw build that tests the Windows code):
// the update window and its whole update path as in the product; where the product would open the
// sign-in window, this build ends. Users always get the build with the sign-in window.
#include "common/ui/AppIcon.h"
#include "update_client/ui/FrmUpDate.h"

#include <QApplication>
#include <QPointer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vesmora"));
    QApplication::setWindowIcon(appIcon());
    QApplication::setQuitOnLastWindowClosed(false);

    QPointer<FrmUpDate> update = new FrmUpDate;
    update->setAttribute(Qt::WA_DeleteOnClose);
    // Queued: the end may be asked for from inside a message box that is still closing.
    QObject::connect(update, &FrmUpDate::endProgram, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(update, &FrmUpDate::proceedToLogin, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    update->start();
    const int code = QApplication::exec();
    delete update;
    return code;
}
