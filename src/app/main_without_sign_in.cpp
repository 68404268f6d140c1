// The main program of builds without Qt WebEngine (the mingw build that tests the Windows code):
// the update window and its whole update path as in the product; where the product would open the
// sign-in window, this build opens the main window at once, with no session.
#include "app/AppSetup.h"
#include "app/PromptLog.h"
#include "app/WorkWindows.h"
#include "common/ProgramFolder.h"
#include "common/ui/Dialogs.h"
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

    std::unique_ptr<WorkWindows> work;
    QPointer<FrmUpDate> update = new FrmUpDate;
    update->setAttribute(Qt::WA_DeleteOnClose);
    // Queued: the end may be asked for from inside a message box that is still closing.
    QObject::connect(update, &FrmUpDate::endProgram, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(update, &FrmUpDate::proceedToLogin, &app, [&work, &app] {
#ifdef VESMORA_TEST_SEAMS
        if (prompt_log::endAtLogin())
            return;
#endif
        work = std::make_unique<WorkWindows>(nullptr);
        QObject::connect(work.get(), &WorkWindows::endProgram, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        work->signedIn();
    });
    update->start();
    const int code = QApplication::exec();
    delete update;
    work.reset();
    return code;
}
