#include "handover/Names.h"

using namespace Qt::StringLiterals;

namespace handover {

QString manifestFileName() {
    return u"update.ini"_s;
}

QString updaterFileName() {
#ifdef Q_OS_WIN
    return u"update.exe"_s;
#else
    return u"update"_s;
#endif
}

bool isUpdaterFileName(const QString& name) {
#ifdef Q_OS_WIN
    return name.compare(u"update.exe"_s, Qt::CaseInsensitive) == 0;
#else
    // A manifest or a folder copied from Windows may carry the other spelling.
    return name.compare(u"update"_s, Qt::CaseInsensitive) == 0 ||
           name.compare(u"update.exe"_s, Qt::CaseInsensitive) == 0;
#endif
}

QString stagingName() {
    return u".vesmora-update"_s;
}

QString stagingFolder(const QString& programFolder) {
    return programFolder + stagingName() + u'/';
}

} // namespace handover
