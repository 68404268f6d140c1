#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

class FileDownload;
class QNetworkAccessManager;

struct UpdateInfo {
    QString version; // server version, as the reply spells it
    QString files;   // update_files, comma-separated entries
    QString notes;   // update_notes
};

// The update path after a differing version: writes the manifest, downloads every entry into the
// program folder with progress, writes the updater out and starts it.
class UpdatePath : public QObject {
    Q_OBJECT

public:
    explicit UpdatePath(QNetworkAccessManager* network, QObject* parent = nullptr);
    ~UpdatePath() override;

    void start(const UpdateInfo& info);

signals:
    void statusChanged(const QString& text);    // labzt
    void sizeTextChanged(const QString& text);  // LabSize
    void speedTextChanged(const QString& text); // LabSD: speed, "下载成功", or an error description
    void progressChanged(int width);            // ImgPrb width, 0 to 445
    void failed(const QString& description);    // failure prompt, second form; the program ends
    void handedOver();                          // the updater runs; the program ends

private:
    void fetch(int index);
    void onResponseStarted(qint64 contentLength);
    void onDataReceived(qint64 received);
    void onFileFinished(bool ok, const QString& error);
    void handOver();
    void fail(const QString& description);

    QNetworkAccessManager* m_network;
    FileDownload* m_download = nullptr;
    QString m_folder;
    QStringList m_entries;
    int m_index = 0;
    qint64 m_expectedSize = 0; // 0 until a reply has named its length; then kept for later files
    qint64 m_phaseStart = 0;   // whole seconds since the epoch
    QElapsedTimer m_lastRedraw;
};
