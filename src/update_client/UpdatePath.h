#pragma once

// CONTRACT: the update window binds to exactly this surface; the implementation may grow.

#include <QObject>
#include <QString>

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
};
