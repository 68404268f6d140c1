#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// Runs the stand-in server on a free loopback port for one test, with a request log it can read.
class StandinServer {
public:
    explicit StandinServer(const QStringList& arguments = {});
    ~StandinServer();
    StandinServer(const StandinServer&) = delete;
    StandinServer& operator=(const StandinServer&) = delete;

    bool isRunning() const { return m_port > 0; }
    int port() const { return m_port; }
    QUrl baseUrl() const; // http://127.0.0.1:PORT
    QString logPath() const { return m_dir.filePath(QStringLiteral("requests.log")); }

    // Every request so far, oldest first; optionally only those whose path is this one.
    QList<QJsonObject> requests(const QString& path = QString()) const;

    void stop();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};
