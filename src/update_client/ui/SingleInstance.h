#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// One Vesmora per program folder. The first start holds the folder's lock for as long as it runs
// and listens for later starts; a later start asks it to come forward and ends. The lock goes
// with the process however it ends, so a crash never keeps the program from starting.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& programFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this start may run: it is the first, or the lock cannot be kept at all. False
    // when another start runs; that one has been asked to come forward.
    bool claim();

signals:
    void raiseRequested();

private:
    void listen();
    void bringForward();

    QString m_folder;
    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
