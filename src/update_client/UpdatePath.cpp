#include "update_client/UpdatePath.h"

#include "common/Endpoints.h"
#include "common/ProgramFolder.h"
#include "common/Version.h"
#include "update_client/DownloadDisplay.h"
#include "update_client/FileDownload.h"
#include "update_client/UpdateEntries.h"
#include "update_client/UpdateManifest.h"
#include "update_client/UpdaterRelease.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QSet>
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

} // namespace

UpdatePath::UpdatePath(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_network(network) {}

UpdatePath::~UpdatePath() = default;

void UpdatePath::start(const UpdateInfo& info) {
    m_folder = Lj();
    m_entries = update_entries::split(info.files);
    // A reply that names nothing, or a file outside the program folder, is not an update.
    if (m_entries.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this] { fail(QString()); }, Qt::QueuedConnection);
        return;
    }
    QSet<QString> copies;
    for (const QString& entry : std::as_const(m_entries)) {
        QString description;
        if (!update_entries::isConfined(entry))
            description = u"更新文件名无效: \"%1\""_s.arg(entry);
        // Two entries sharing a last part would share one download copy, and one of them would
        // be installed with the other's bytes.
        else if (copies.contains(update_entries::lastPart(entry).toLower()))
            description = u"更新文件名重复: \"%1\""_s.arg(entry);
        if (!description.isEmpty()) {
            QMetaObject::invokeMethod(
                this, [this, description] { fail(description); }, Qt::QueuedConnection);
            return;
        }
        copies.insert(update_entries::lastPart(entry).toLower());
    }

    update_manifest::write(m_folder + update_manifest::fileName(), info, installedVersion(),
                           update_manifest::mainAppName());

    emit statusChanged(u"正在下载文件……"_s);
    m_phaseStart = QDateTime::currentSecsSinceEpoch();
    m_download = new FileDownload(m_network, this);
    connect(m_download, &FileDownload::responseStarted, this, &UpdatePath::onResponseStarted);
    connect(m_download, &FileDownload::dataReceived, this, &UpdatePath::onDataReceived);
    connect(m_download, &FileDownload::finished, this, &UpdatePath::onFileFinished);
    fetch(0);
}

void UpdatePath::fetch(int index) {
    m_index = index;
    const QString& entry = m_entries.at(index);
    emit statusChanged(u"正在下载文件(%1/%2)……"_s.arg(index + 1).arg(m_entries.size()));
    m_download->start(downloadAddress(entry), update_entries::downloadCopyPath(m_folder, entry));
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
        handOver();
}

void UpdatePath::handOver() {
    m_download->deleteLater();
    m_download = nullptr;
    const QString updater = m_folder + updaterFileName();
    // Always the updater of this very program, never one left from an earlier run.
    if (QFile::exists(updater))
        QFile::remove(updater);
    emit statusChanged(u"正在释放更新文件……"_s);
    CreResFile(updater, kUpdaterResource);
    if (!QProcess::startDetached(updater, {}, m_folder)) {
        fail(u"无法启动更新程序: %1"_s.arg(updater));
        return;
    }
    emit handedOver();
}

void UpdatePath::fail(const QString& description) {
    if (m_download) {
        m_download->deleteLater();
        m_download = nullptr;
    }
    emit failed(description);
}
