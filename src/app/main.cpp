#include "app/AppSetup.h"
#include "app/PromptLog.h"
#include "app/WorkWindows.h"
#include "common/ProgramFolder.h"
#include "common/ui/Dialogs.h"
#include "common/ui/WindowKit.h"
#include "login/Frmlogin.h"
#include "login/SmokeCheck.h"
#include "login/WebCookieSource.h"
#include "update_client/ui/FrmUpDate.h"
#include "update_client/ui/SingleInstance.h"

#include <QApplication>
#include <QPointer>

#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setUpApplication(app);
    // One program per folder: a second start brings the first forward and ends.
    SingleInstance instance(Lj());
    if (!instance.claim())
        return 0;
#ifdef VESMORA_TEST_SEAMS
    prompt_log::startIfWanted();
#endif
    if (!instance.notice().isEmpty())
        dialogs::message(nullptr, QMessageBox::Warning, instance.notice());

    std::unique_ptr<Frmlogin> login;
    std::unique_ptr<WorkWindows> work;
    QPointer<SmokeCheck> smoke = SmokeCheck::wanted() ? new SmokeCheck(&app) : nullptr;
    QPointer<FrmUpDate> update = new FrmUpDate;
    update->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(update, &FrmUpDate::endProgram, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(update, &FrmUpDate::proceedToLogin, &app, [&login, &work, &app, smoke] {
#ifdef VESMORA_TEST_SEAMS
        if (prompt_log::endAtLogin())
            return;
#endif
        login = std::make_unique<Frmlogin>();
        QObject::connect(login.get(), &Frmlogin::endProgram, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        work = std::make_unique<WorkWindows>(login->cookies());
        QObject::connect(login.get(), &Frmlogin::signedIn, work.get(), &WorkWindows::signedIn);
        QObject::connect(work.get(), &WorkWindows::signInNeeded, login.get(), &Frmlogin::requestSignIn);
        QObject::connect(work.get(), &WorkWindows::signInWindowWanted, login.get(), &Frmlogin::bringForward);
        login->setCloseCheck([&work, &login] { return work->confirmEnd(login.get()); });
        // Queued: the end may be asked for from inside a message box that is still closing.
        QObject::connect(work.get(), &WorkWindows::endProgram, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        if (smoke)
            smoke->watch(login.get());
        login->start();
        login->show();
        centreOnScreen(login.get());
    });
    update->start();
    const int code = QApplication::exec();
    delete update;
    work.reset();
    login.reset();
    return code;
}
