#include "common/ui/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int installChineseTranslations(QCoreApplication* app) {
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const QStringList folders{
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"))};
    int installed = 0;
    for (const char* catalogue : {"qtbase", "qtwebengine"}) {
        auto* translator = new QTranslator(app);
        bool loaded = false;
        for (const QString& folder : folders) {
            if (translator->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"), folder)) {
                loaded = true;
                break;
            }
        }
        if (loaded && QCoreApplication::installTranslator(translator))
            ++installed;
        else
            delete translator;
    }
    return installed;
}
