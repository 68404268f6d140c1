#include "handover/UpdateOutcome.h"

#include "handover/Names.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace handover {

namespace {

// The result as the file spells it.
const std::pair<UpdateOutcome::Result, QString> kResults[] = {
    {UpdateOutcome::Result::Installed, u"installed"_s},
    {UpdateOutcome::Result::RolledBack, u"rolled back"_s},
    {UpdateOutcome::Result::Refused, u"refused"_s},
};

// Larger than any record; a bigger file is not one.
constexpr qint64 kMaxBytes = 64 * 1024;

} // namespace

QString outcomePath(const QString& programFolder) {
    return dataFolder() + u"updates/"_s + folderKey(programFolder) + u".json"_s;
}

bool writeOutcome(const QString& programFolder, const UpdateOutcome& outcome) {
    QString result;
    for (const auto& [value, name] : kResults) {
        if (value == outcome.result)
            result = name;
    }
    const QJsonObject record{
        {u"version"_s, outcome.version},
        {u"result"_s, result},
        {u"entry"_s, outcome.entry},
        {u"reason"_s, outcome.reason},
        {u"time"_s, outcome.time.toUTC().toString(Qt::ISODate)},
        {u"told"_s, outcome.told},
    };
    const QString path = outcomePath(programFolder);
    const QString folder = QFileInfo(path).absolutePath();
    const QString part = path + u".part"_s;
    if (!QDir().mkpath(folder) || (QFileInfo::exists(part) && !QFile::remove(part)))
        return false;
    QFile file(part);
    if (!platform::createFile(file))
        return false;
    const bool written = platform::writeFile(file, QJsonDocument(record).toJson(QJsonDocument::Indented)) &&
                         platform::syncFile(file);
    file.close();
    if (!written || !platform::renameFile(part, path)) {
        QFile::remove(part);
        return false;
    }
    return platform::syncFolder(folder);
}

std::optional<UpdateOutcome> readOutcome(const QString& programFolder) {
    QFile file(outcomePath(programFolder));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxBytes)
        return std::nullopt;
    const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
    UpdateOutcome outcome;
    bool known = false;
    for (const auto& [value, name] : kResults) {
        if (record.value(u"result"_s).toString() == name) {
            outcome.result = value;
            known = true;
        }
    }
    outcome.version = record.value(u"version"_s).toString();
    outcome.time = QDateTime::fromString(record.value(u"time"_s).toString(), Qt::ISODate);
    if (!known || outcome.version.isEmpty() || !outcome.time.isValid())
        return std::nullopt;
    outcome.time = outcome.time.toUTC();
    outcome.entry = record.value(u"entry"_s).toString();
    outcome.reason = record.value(u"reason"_s).toString();
    outcome.told = record.value(u"told"_s).toBool();
    return outcome;
}

} // namespace handover
