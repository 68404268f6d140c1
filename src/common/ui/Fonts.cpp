#include "common/ui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

// Western names of the Windows families, then common Chinese families of other desktops.
QStringList cjkFamilies(const QString& family) {
    QStringList names{family};
    if (family == QStringLiteral("宋体"))
        names << QStringLiteral("SimSun") << QStringLiteral("NSimSun");
    else if (family == QStringLiteral("微软雅黑"))
        names << QStringLiteral("Microsoft YaHei");
    names << QStringLiteral("SimSun") << QStringLiteral("Microsoft YaHei")
          << QStringLiteral("Noto Sans CJK SC") << QStringLiteral("Noto Serif CJK SC")
          << QStringLiteral("Source Han Sans SC") << QStringLiteral("WenQuanYi Micro Hei")
          << QStringLiteral("WenQuanYi Zen Hei") << QStringLiteral("AR PL UMing CN")
          << QStringLiteral("Droid Sans Fallback");
    return names;
}

namespace {

QString installedFamily(const QString& family) {
    const QStringList installed = QFontDatabase::families();
    for (const QString& name : cjkFamilies(family)) {
        if (installed.contains(name, Qt::CaseInsensitive))
            return name;
    }
    // Any family the database says can write Simplified Chinese.
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? family : chinese.first();
}

} // namespace

QFont cjkFont(const QString& family, qreal pointSize, bool bold) {
    QFont font(installedFamily(family));
    // Families the first choice lacks still get a Chinese fallback for single glyphs.
    font.setFamilies(QStringList{font.family()} + cjkFamilies(family));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}
