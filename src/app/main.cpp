#include "common/ui/AppIcon.h"
#include "login/Frmlogin.h"
#include "update_client/ui/FrmUpDate.h"

#include <QApplication>
#include <QFont>
#include <QPointer>
#include <QScreen>

#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vesmora"));
    QApplication::setWindowIcon(appIcon());
    // The windows decide when the program ends: a confirmed close, the login window closing,
    // the end of the update check.
    QApplication::setQuitOnLastWindowClosed(false);

    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    QApplication::setFont(font);

    std::unique_ptr<Frmlogin> login;
    QPointer<FrmUpDate> update = new FrmUpDate;
    update->setAttribute(Qt::WA_DeleteOnClose);
    // Queued: the end may be asked for from inside a message box that is still closing.
    QObject::connect(update, &FrmUpDate::endProgram, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(update, &FrmUpDate::proceedToLogin, &app, [&login, &app] {
        login = std::make_unique<Frmlogin>();
        QObject::connect(login.get(), &Frmlogin::endProgram, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        login->start();
        login->show();
        if (const QScreen* screen = login->screen())
            login->move(screen->availableGeometry().center() - login->rect().center());
    });
    update->start();
    const int code = QApplication::exec();
    delete update;
    login.reset();
    return code;
}
