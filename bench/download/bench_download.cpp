// Downloads one large file from the stand-in through the update client's download code and
// through curl, against the same server in the same run, and prints throughput and memory; once
// more with the size and SHA-256 check an update check may ask for.
#include "support/StandinServer.h"
#include "update_client/FileDownload.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr qint64 kFileSize = 200LL * 1024 * 1024;
constexpr int kRounds = 3;

// Resident set figures of this process, in kB: current and peak.
qint64 statusField(const char* name) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool makeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 131) ^ (i >> 7));
    for (qint64 written = 0; written < kFileSize; written += block.size())
        file.write(block);
    return true;
}

// Flushes what earlier runs left dirty, untimed: on ext4 a flush of one file can otherwise pay for
// another's pages, and the order of the runs would decide the figures.
void settle() {
    QProcess::execute(QStringLiteral("sync"), {});
}

// check: what the update client checks when the update check names size and digest.
double productRun(QNetworkAccessManager& network, const QUrl& url, const QString& target, qint64* growthKb,
                  bool* ok, const DownloadCheck& check = {}) {
    QFile::remove(target);
    settle();
    FileDownload download(&network);
    QEventLoop loop;
    QObject::connect(&download, &FileDownload::finished, &loop, [&](bool success, const QString& error) {
        *ok = success;
        if (!success)
            std::fprintf(stderr, "download failed: %s\n", qPrintable(error));
        loop.quit();
    });
    resetPeak();
    const qint64 before = statusField("VmRSS");
    QElapsedTimer timer;
    timer.start();
    download.start(url, target, check);
    loop.exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    *growthKb = statusField("VmHWM") - before;
    *ok = *ok && QFileInfo(target).size() == kFileSize;
    return seconds;
}

// withSync: curl, then the file flushed to disk as the product's download does before it counts
// a file as complete (an updater must not install a copy a power cut can leave empty).
double curlRun(const QUrl& url, const QString& target, bool withSync, bool* ok) {
    QFile::remove(target);
    settle();
    QElapsedTimer timer;
    timer.start();
    const int code = QProcess::execute(QStringLiteral("curl"),
                                       {QStringLiteral("-s"), QStringLiteral("-o"), target, url.toString()});
    if (withSync)
        QProcess::execute(QStringLiteral("sync"), {target});
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    *ok = code == 0 && QFileInfo(target).size() == kFileSize;
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir served;
    QTemporaryDir out;
    QDir().mkpath(served.path());
    if (!makeFile(served.filePath(QStringLiteral("big.bin")))) {
        std::fprintf(stderr, "cannot write the test file\n");
        return 1;
    }
    StandinServer server({QStringLiteral("--files-dir"), served.path()});
    if (!server.isRunning()) {
        std::fprintf(stderr, "stand-in did not start\n");
        return 1;
    }
    const QUrl url = server.baseUrl().resolved(QUrl(QStringLiteral("/soft/uploads/vesmora/big.bin")));
    const QString target = out.filePath(QStringLiteral("tmpbig.bin"));
    QNetworkAccessManager network;

    QFile big(served.filePath(QStringLiteral("big.bin")));
    QCryptographicHash digest(QCryptographicHash::Sha256);
    if (!big.open(QIODevice::ReadOnly) || !digest.addData(&big)) {
        std::fprintf(stderr, "cannot read the test file\n");
        return 1;
    }
    const DownloadCheck verified{kFileSize, digest.result(), false};

    double bestProduct = 1e9, bestVerified = 1e9, bestCurl = 1e9, bestCurlSync = 1e9;
    qint64 worstGrowth = 0;
    for (int round = 0; round < kRounds; ++round) {
        bool ok = false;
        const double c = curlRun(url, target, false, &ok);
        const double cs = ok ? curlRun(url, target, true, &ok) : 0;
        if (!ok) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        qint64 growth = 0;
        const double p = productRun(network, url, target, &growth, &ok);
        if (!ok)
            return 1;
        qint64 verifiedGrowth = 0;
        const double v = productRun(network, url, target, &verifiedGrowth, &ok, verified);
        if (!ok)
            return 1;
        std::printf("round %d: curl %.2f s, curl + fsync %.2f s, product %.2f s, product with size and "
                    "SHA-256 check %.2f s, peak memory growth %lld kB\n",
                    round + 1, c, cs, p, v, static_cast<long long>(qMax(growth, verifiedGrowth)));
        bestVerified = qMin(bestVerified, v);
        growth = qMax(growth, verifiedGrowth);
        bestCurl = qMin(bestCurl, c);
        bestCurlSync = qMin(bestCurlSync, cs);
        bestProduct = qMin(bestProduct, p);
        worstGrowth = qMax(worstGrowth, growth);
    }
    const double mb = static_cast<double>(kFileSize) / (1024.0 * 1024.0);
    std::printf("file: %.0f MB over loopback, best of %d rounds\n", mb, kRounds);
    std::printf("curl:    %.1f MB/s\n", mb / bestCurl);
    std::printf("curl + fsync: %.1f MB/s\n", mb / bestCurlSync);
    std::printf("product: %.1f MB/s (the file is flushed to disk before it counts as downloaded)\n",
                mb / bestProduct);
    std::printf("product with size and SHA-256 check: %.1f MB/s\n", mb / bestVerified);
    std::printf("throughput ratio product/curl: %.2f (target >= 0.80)\n", bestCurl / bestProduct);
    std::printf("throughput ratio product/(curl + fsync): %.2f\n", bestCurlSync / bestProduct);
    std::printf("peak memory growth: %.1f MB (target < 32 MB)\n", static_cast<double>(worstGrowth) / 1024.0);
    return 0;
}
