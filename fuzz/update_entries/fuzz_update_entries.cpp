#include "handover/Entries.h"
#include "handover/Manifest.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void check(bool holds) {
    if (!holds)
        std::abort();
}

// Inside the folder on both systems: with "/" as the separator, and with every "/" and "\" read as
// a Windows separator, where a trailing dot or blank of a name would also be dropped.
bool staysInside(const QString& folder, const QString& relative) {
    for (const QString& separator : {u"/"_s, u"\\"_s}) {
        QString path = relative;
        if (separator == u"\\"_s) {
            path.replace(u'\\', u'/');
            QStringList parts = path.split(u'/');
            for (QString& part : parts) {
                while (part.endsWith(u'.') || part.endsWith(u' '))
                    part.chop(1);
                if (part.isEmpty())
                    return false;
            }
            path = parts.join(u'/');
        }
        const QString cleaned = QDir::cleanPath(folder + path);
        if (!cleaned.startsWith(folder) || cleaned.size() == folder.size() || QDir::isAbsolutePath(path))
            return false;
    }
    return true;
}

} // namespace

// The first line is MainApp, the rest update_files. An accepted list names only files inside the
// program folder, installs no two entries at one place, never downloads onto an installed file, and
// comes back from the manifest exactly as written.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf(u'\n');
    const QString mainApp = newline < 0 ? u"vesmora.exe"_s : input.left(newline);
    const QString files = newline < 0 ? input : input.mid(newline + 1);

    const handover::ListCheck result = handover::checkList(files, mainApp);
    // A refused list always tells the user why.
    check(result.accepted() || result.refusal == handover::Refusal::NoEntries ||
          !handover::describe(result).isEmpty());
    if (!result.accepted())
        return 0;

    const QString folder = u"/program/"_s;
    const QStringList entries = handover::splitEntries(files);
    QSet<QString> installed;
    QSet<QString> copies;
    for (int i = 0; i < entries.size(); ++i) {
        const QString install = handover::installName(i, entries.at(i), mainApp);
        const QString copy = handover::copyName(entries.at(i));
        check(staysInside(folder, install) && staysInside(folder, copy));
        check(handover::isPortablePath(install) && handover::isPortableName(copy));
        installed.insert(install.toLower());
        copies.insert(copy.toLower());
    }
    check(installed.size() == entries.size() && copies.size() == entries.size());
    check(!installed.intersects(copies));

    static QTemporaryDir dir;
    const QString path = dir.filePath(u"update.ini"_s);
    handover::Manifest manifest;
    manifest.newVersion = u"2.1.1"_s;
    manifest.files = files;
    manifest.mainApp = mainApp;
    check(handover::writeManifest(path, manifest));
    const handover::Manifest back = handover::readManifest(path);
    check(back.files == files && back.mainApp == mainApp && back.entries() == entries);
    return 0;
}
