#include "update_client/UpdatePath.h"

#include "common/Endpoints.h"
#include "common/ErrorText.h"
#include "common/ProgramFolder.h"
#include "common/Version.h"
#include "handover/Entries.h"
#include "handover/Folder.h"
#include "handover/Locks.h"
#include "handover/Manifest.h"
#include "handover/Names.h"
#include "platform/FileSystem.h"
#include "update_client/DownloadDisplay.h"
#include "update_client/UpdaterRelease.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

constexpr int kUpdaterResource = 101;
constexpr qint64 kRedrawIntervalMs = 200;

QUrl downloadAddress(const QString& entry) {
    QUrl url = endpoints::downloadFolder();
    // Decoded mode: "?", "#" and "%" in an entry are parts of the file name, not of the address.
    url.setPath(url.path() + entry, QUrl::DecodedMode);
    return url;
}

// update_sizes and update_sha256, one value per entry; false when present but not aligned.
bool readChecks(const UpdateInfo& info, qsizetype count, QList<DownloadCheck>* checks) {
    checks->fill(DownloadCheck{}, count);
    if (!info.sizes.isEmpty()) {
        const QStringList sizes = info.sizes.split(u',');
        if (sizes.size() != count)
            return false;
        for (qsizetype i = 0; i < count; ++i) {
            bool ok = false;
            const qint64 size = sizes.at(i).toLongLong(&ok);
            if (!ok || size < 0 || !sizes.at(i).at(0).isDigit())
                return false;
            (*checks)[i].size = size;
        }
    }
    if (!info.sha256.isEmpty()) {
        const QStringList digests = info.sha256.split(u',');
        if (digests.size() != count)
            return false;
        for (qsizetype i = 0; i < count; ++i) {
            const QByteArray hex = digests.at(i).toLatin1();
            const QByteArray digest = QByteArray::fromHex(hex);
            if (hex.size() != 64 || digest.size() != 32 || digest.toHex() != hex.toLower())
                return false;
            (*checks)[i].sha256 = digest;
        }
    }
    return true;
}

} // namespace

UpdatePath::UpdatePath(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_network(network) {}

UpdatePath::~UpdatePath() = default;

void UpdatePath::failLater(const QString& description) {
    QMetaObject::invokeMethod(
        this, [this, description] { fail(description); }, Qt::QueuedConnection);
}

// Everything that must hold before the first download; the failure's description, or nothing.
QString UpdatePath::prepare(const UpdateInfo& info) {
    const QString mainApp = handover::mainAppName();
    const handover::ListCheck list = handover::checkList(info.files, mainApp);
    if (!list.accepted())
        return handover::describe(list);
    m_entries = handover::splitEntries(info.files);
    if (!readChecks(info, m_entries.size(), &m_checks))
        return u"更新信息中的文件大小或校验值与文件列表不一致"_s;
    m_checks[0].program = true;
    for (int i = 0; i < m_entries.size(); ++i) {
        const QString& entry = m_entries.at(i);
        for (const QString& name : {handover::copyName(entry), handover::installName(i, entry, mainApp)}) {
            if (handover::crossesLink(m_folder, name))
                return describeDownload(DownloadFault::ThroughLink, m_folder + name);
        }
    }
    const QString staging = handover::stagingFolder(m_folder);
    if (!handover::removeStaging(m_folder) || !handover::prepareStaging(m_folder))
        return describeFileError(QFileDevice::WriteError, staging);
    const handover::Manifest manifest{info.version, installedVersion(), info.files, info.notes, mainApp};
    if (!handover::writeManifest(staging + handover::manifestFileName(), manifest))
        return describeFileError(QFileDevice::WriteError, m_folder + handover::manifestFileName());
    return QString();
}

void UpdatePath::start(const UpdateInfo& info) {
    m_folder = Lj();
    const QStringList entries = handover::splitEntries(info.files);
    // A reply that names nothing is not an update; it fails without a description.
    if (entries.isEmpty()) {
        failLater(QString());
        return;
    }
    const QString refusal = prepare(info);
    if (!refusal.isEmpty()) {
        failLater(refusal);
        return;
    }

    emit statusChanged(u"正在下载文件……"_s);
    m_phaseStart = QDateTime::currentSecsSinceEpoch();
    m_download = new FileDownload(m_network, this);
    m_download->setWorkFolder(handover::stagingFolder(m_folder));
    m_download->setSlowTransferWindow(m_slowWindowMs);
    connect(m_download, &FileDownload::responseStarted, this, &UpdatePath::onResponseStarted);
    connect(m_download, &FileDownload::dataReceived, this, &UpdatePath::onDataReceived);
    connect(m_download, &FileDownload::finished, this, &UpdatePath::onFileFinished);
    fetch(0);
}

void UpdatePath::resume() {
    m_folder = Lj();
    m_resuming = true;
    QMetaObject::invokeMethod(
        this, [this] { handOver(false); }, Qt::QueuedConnection);
}

void UpdatePath::fetch(int index) {
    m_index = index;
    const QString& entry = m_entries.at(index);
    emit statusChanged(u"正在下载文件(%1/%2)……"_s.arg(index + 1).arg(m_entries.size()));
    m_download->start(downloadAddress(entry), handover::copyPath(m_folder, entry), m_checks.at(index));
}

void UpdatePath::onResponseStarted(qint64 contentLength) {
    // Without a length the previous file's size stands, as the display always had it.
    if (contentLength >= 0)
        m_expectedSize = download_display::expectedSizeFromLength(contentLength);
    if (m_expectedSize > 0)
        emit sizeTextChanged(download_display::sizeText(m_expectedSize));
}

void UpdatePath::onDataReceived(qint64 received) {
    // The pause between redraws carries over from one file to the next.
    if (m_lastRedraw.isValid() && m_lastRedraw.elapsed() < kRedrawIntervalMs)
        return;
    if (m_expectedSize > 0)
        emit progressChanged(download_display::barWidth(received, m_expectedSize));
    emit speedTextChanged(
        download_display::speedText(received, QDateTime::currentSecsSinceEpoch() - m_phaseStart));
    m_lastRedraw.start();
}

void UpdatePath::onFileFinished(bool ok, const QString& error) {
    if (!ok) {
        if (!error.isEmpty())
            emit speedTextChanged(error);
        fail(error);
        return;
    }
    emit speedTextChanged(download_display::successText());
    emit progressChanged(download_display::kFullWidth);
    if (m_index + 1 < m_entries.size())
        fetch(m_index + 1);
    else
        handOver(true);
}

void UpdatePath::handOver(bool publish) {
    if (m_download) {
        m_download->deleteLater();
        m_download = nullptr;
    }
    const QString updater = m_folder + handover::updaterFileName();
    const QString manifest = m_folder + handover::manifestFileName();
    emit statusChanged(u"正在释放更新文件……"_s);
    // Always the updater of this very program, never one left from an earlier run.
    if (!handover::removeLeftoverUpdater(m_folder)) {
        fail(describeFileError(QFileDevice::RemoveError, updater));
        return;
    }
    if (!CreResFile(updater, kUpdaterResource)) {
        fail(describeFileError(QFileDevice::WriteError, updater));
        return;
    }
    if (publish &&
        !platform::replaceFile(handover::stagingFolder(m_folder) + handover::manifestFileName(), manifest)) {
        fail(describeFileError(QFileDevice::RenameError, manifest));
        return;
    }
    if (!QProcess::startDetached(updater, {}, m_folder)) {
        // Not handed over: the manifest is still this program's, and a next start must not resume.
        if (publish)
            QFile::remove(manifest);
        fail(u"无法启动更新程序: %1"_s.arg(QDir::toNativeSeparators(updater)));
        return;
    }
    m_handedOverAt.start();
    awaitUpdater();
}

// This program keeps the folder until the updater holds it, so that a start of the program in
// between finds one of the two running and neither starts a second updater nor runs beside it.
void UpdatePath::awaitUpdater() {
    constexpr int kLookMs = 100;
    if (m_handedOverAt.elapsed() >= m_updaterWaitMs ||
        handover::isHeld(m_folder, handover::Holder::Updater)) {
        emit handedOver();
        return;
    }
    QTimer::singleShot(kLookMs, this, &UpdatePath::awaitUpdater);
}

void UpdatePath::fail(const QString& description) {
    if (m_download) {
        m_download->deleteLater();
        m_download = nullptr;
    }
    // The staged manifest and any unfinished download go; finished copies may stay. A resumed
    // update keeps its staging folder: it holds the backups of the swap it interrupted.
    if (!m_resuming)
        static_cast<void>(handover::removeStaging(m_folder));
    emit failed(description);
}
