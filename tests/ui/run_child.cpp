// The program's windows after sign-in, driven for the kill-and-restore test:
//   run_child JOURNAL COOKIE ACCOUNT...   starts a run of these accounts at 200 a minute
//   run_child JOURNAL COOKIE              answers 是 to the restore question
// Every message box is answered at once (是 / OK) and its text printed; "查询结束!" ends the
// program with code 0, a start without the restore question with code 3.
#include "StandinHttp.h"
#include "app/AppSetup.h"
#include "app/WorkWindows.h"
#include "common/ui/Dialogs.h"
#include "query/ui/AccountEdit.h"
#include "query/ui/FrmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setUpApplication(app);
    QStandardPaths::setTestModeEnabled(true); // the main window's layout stays out of the user's folder
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    bool asked = false;
    dialogs::setMessageHandler([&asked](const dialogs::MessageRequest& request) {
        std::printf("%s\n", qPrintable(request.text));
        std::fflush(stdout);
        asked = asked || request.text.startsWith(QStringLiteral("上次查询未完成"));
        if (request.text == QStringLiteral("查询结束!"))
            QCoreApplication::exit(0);
        return request.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    FixedCookie cookie(args[2]);
    WorkWindows work(&cookie, nullptr, args[1]);
    work.signedIn();
    FrmMain* main = work.mainWindow();
    if (args.size() > 3) {
        main->findChild<QComboBox*>(QStringLiteral("COBNUM"))->setCurrentText(QStringLiteral("200"));
        main->findChild<AccountEdit*>(QStringLiteral("TxtZh"))->setPlainText(args.mid(3).join(u'\n'));
        main->findChild<QPushButton*>(QStringLiteral("CmdStart"))->click();
    } else {
        QTimer::singleShot(0, &app, [&asked] {
            if (!asked)
                QCoreApplication::exit(3);
        });
    }
    return QApplication::exec();
}
