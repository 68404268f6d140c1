#include "handover/Entries.h"

#include "common/IniFile.h"
#include "handover/Names.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace handover {

namespace {

bool isEdgeBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'"' || c == u'\'';
}

bool isDeviceName(const QString& name) {
    // Windows maps these to devices whatever follows the first dot, and ignores blanks before it.
    QString base = name.left(name.indexOf(u'.')).toUpper();
    while (base.endsWith(u' '))
        base.chop(1);
    static const QSet<QString> plain{u"CON"_s, u"PRN"_s, u"AUX"_s, u"NUL"_s, u"CONIN$"_s, u"CONOUT$"_s};
    if (plain.contains(base))
        return true;
    if (base.size() != 4 || !(base.startsWith(u"COM"_s) || base.startsWith(u"LPT"_s)))
        return false;
    const QChar digit = base.at(3);
    // The superscript digits count as well.
    return (digit >= u'1' && digit <= u'9') || digit == QChar(0xB9) || digit == QChar(0xB2) ||
           digit == QChar(0xB3);
}

// Names compare as Windows compares them.
QString folded(const QString& path) {
    return path.toCaseFolded();
}

bool insideOrSame(const QString& path, const QString& other) {
    return path == other || path.startsWith(other + u'/');
}

ListCheck refuse(Refusal refusal, int index, const QString& entry) {
    return ListCheck{refusal, index, entry};
}

} // namespace

QStringList splitEntries(const QString& files) {
    if (files.isEmpty())
        return {};
    return files.split(u',');
}

bool isPortableName(const QString& name) {
    if (name.isEmpty() || name.endsWith(u'.') || name.endsWith(u' '))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || QStringView(u"<>:\"|?*\\/").contains(c))
            return false;
    }
    return !isDeviceName(name);
}

bool isPortablePath(const QString& path) {
    const QStringList parts = path.split(u'/');
    for (const QString& part : parts) {
        if (!isPortableName(part))
            return false;
    }
    return true;
}

QString copyName(const QString& entry) {
    const qsizetype slash = entry.lastIndexOf(u'/');
    return u"tmp"_s + (slash < 0 ? entry : entry.mid(slash + 1));
}

QString installName(int index, const QString& entry, const QString& mainApp) {
    return index == 0 ? mainApp : entry;
}

QString copyPath(const QString& programFolder, const QString& entry) {
    return programFolder + copyName(entry);
}

QString installPath(const QString& programFolder, int index, const QString& entry, const QString& mainApp) {
    return programFolder + installName(index, entry, mainApp);
}

QString backupPath(const QString& programFolder, int index) {
    return stagingFolder(programFolder) + u"backup/"_s + QString::number(index);
}

ListCheck checkList(const QString& files, const QString& mainApp) {
    const QStringList entries = splitEntries(files);
    if (entries.isEmpty())
        return refuse(Refusal::NoEntries, -1, QString());
    // Every character takes at least one byte in the manifest; past the limit no entry need be
    // looked at, and the pairwise checks below stay small.
    if (files.size() > kIniValueLimit)
        return refuse(Refusal::NotCarried, -1, QString());
    // The main program's name travels in the manifest too, and must come back as it went.
    if (!isPortableName(mainApp) || isUpdaterFileName(mainApp) ||
        mainApp.compare(manifestFileName(), Qt::CaseInsensitive) == 0 || isEdgeBlank(mainApp.front()) ||
        isEdgeBlank(mainApp.back()) || !iniCarries(mainApp))
        return refuse(Refusal::BadMainApp, 0, mainApp);

    const QString reserved[] = {folded(manifestFileName()), folded(u"update"_s), folded(u"update.exe"_s),
                                folded(stagingName())};
    QStringList targets;
    QStringList copies;
    for (int i = 0; i < entries.size(); ++i) {
        const QString& entry = entries.at(i);
        if (!entry.isEmpty() && (isEdgeBlank(entry.front()) || isEdgeBlank(entry.back())))
            return refuse(Refusal::EdgeBlank, i, entry);
        if (!isPortablePath(entry))
            return refuse(Refusal::BadName, i, entry);
        const QString target = folded(installName(i, entry, mainApp));
        const QString top = target.section(u'/', 0, 0);
        for (const QString& name : reserved) {
            if (top == name)
                return refuse(Refusal::ReservedName, i, entry);
        }
        for (const QString& other : std::as_const(targets)) {
            if (insideOrSame(target, other) || insideOrSame(other, target))
                return refuse(Refusal::SharedTarget, i, entry);
        }
        targets << target;
        const QString copy = folded(copyName(entry));
        if (copies.contains(copy))
            return refuse(Refusal::SharedCopy, i, entry);
        copies << copy;
    }
    // A copy must not be, or lie in the way of, any file the update installs.
    for (int i = 0; i < entries.size(); ++i) {
        for (const QString& target : std::as_const(targets)) {
            if (insideOrSame(target, copies.at(i)))
                return refuse(Refusal::CopyIsEntry, i, entries.at(i));
        }
    }
    // Last, so that a refusal names the entry at fault where one is: the manifest must give back
    // exactly the list that was downloaded.
    if (!iniCarries(files))
        return refuse(Refusal::NotCarried, -1, QString());
    return {};
}

QString describe(const ListCheck& check) {
    const QString name = u"\"%1\""_s.arg(check.entry);
    switch (check.refusal) {
    case Refusal::None:
    case Refusal::NoEntries:
        break;
    case Refusal::NotCarried:
        return u"更新文件列表过长或含有无法保存的字符"_s;
    case Refusal::EdgeBlank:
        return u"更新文件名首尾含有空格或引号: "_s + name;
    case Refusal::BadName:
        return u"更新文件名无效: "_s + name;
    case Refusal::ReservedName:
        return u"更新文件名与更新程序自身的文件冲突: "_s + name;
    case Refusal::CopyIsEntry:
        return u"更新文件的临时文件与另一更新文件同名: "_s + name;
    case Refusal::SharedCopy:
    case Refusal::SharedTarget:
        return u"更新文件名重复: "_s + name;
    case Refusal::BadMainApp:
        return u"主程序文件名无效: "_s + name;
    }
    return QString();
}

} // namespace handover
