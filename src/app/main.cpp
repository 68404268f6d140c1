#include "app/AppSetup.h"
#include "app/WorkWindows.h"
#include "common/ProgramFolder.h"
#include "login/Frmlogin.h"
#include "login/WebCookieSource.h"
#include "update_client/ui/FrmUpDate.h"
#include "update_client/ui/SingleInstance.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>

#include <memory>

namespace {

void centre(QWidget* window) {
    if (const QScreen* screen = window->screen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setUpApplication(app);
    // One program per folder: a second start brings the first forward and ends.
    SingleInstance instance(Lj());
    if (!instance.claim())
        return 0;

    std::unique_ptr<Frmlogin> login;
    std::unique_ptr<WorkWindows> work;
    QPointer<FrmUpDate> update = new FrmUpDate;
    update->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(update, &FrmUpDate::endProgram, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(update, &FrmUpDate::proceedToLogin, &app, [&login, &work, &app] {
        login = std::make_unique<Frmlogin>();
        QObject::connect(login.get(), &Frmlogin::endProgram, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        work = std::make_unique<WorkWindows>(login->cookies());
        QObject::connect(login.get(), &Frmlogin::signedIn, work.get(), &WorkWindows::signedIn);
        QObject::connect(work.get(), &WorkWindows::signInNeeded, login.get(), &Frmlogin::requestSignIn);
        // Queued: the end may be asked for from inside a message box that is still closing.
        QObject::connect(work.get(), &WorkWindows::endProgram, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        login->start();
        login->show();
        centre(login.get());
    });
    update->start();
    const int code = QApplication::exec();
    delete update;
    work.reset();
    login.reset();
    return code;
}
