#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace platform {
class FileLock;
}

// One Vesmora per program folder. The first start holds the folder's lock for as long as it runs
// and listens for later starts; a later start asks it to come forward and ends. The lock goes
// with the process however it ends, so a crash never keeps the program from starting, whatever
// program its process number names later. Only a lock that cannot be made at all (a data folder
// that cannot be written) lets a start run without it.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& programFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this start may run: it is the first, or the lock cannot be made at all (then
    // notice() says so). False when another start runs; that one has been asked to come forward.
    bool claim();

    // For the user when this start runs without the lock; empty otherwise.
    QString notice() const { return m_notice; }

signals:
    void raiseRequested();

private:
    void listen();
    void bringForward();

    QString m_folder;
    QString m_serverName;
    QString m_notice;
    std::unique_ptr<platform::FileLock> m_lock;
    QLocalServer* m_server = nullptr;
};
