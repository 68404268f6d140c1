#include "app/AppSetup.h"

#include "common/ui/AppIcon.h"
#include "common/ui/Fonts.h"
#include "common/ui/Translations.h"

#include <QApplication>
#include <QFont>

void setUpApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Vesmora"));
    QApplication::setWindowIcon(appIcon());
    installChineseTranslations(&app);
    // The windows decide when the program ends: a confirmed close, the login window closing,
    // the end of the update check.
    QApplication::setQuitOnLastWindowClosed(false);

    QFont font = QApplication::font();
    font.setFamilies(cjkFamilies(QStringLiteral("宋体")));
    QApplication::setFont(font);
}
