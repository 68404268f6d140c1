#include "StandinServer.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

StandinServer::StandinServer(const QStringList& arguments) {
    QStringList args{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--log"), logPath()};
    args << arguments;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_LINUX
    // A test that aborts (a sanitizer report) must not leave the server running: it holds the
    // test's output open, and ctest would wait for it until the timeout.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    m_process.start(QStringLiteral(VESMORA_STANDIN_PATH), args);
    if (!m_process.waitForStarted(5000))
        return;
    QByteArray line;
    while (!line.contains('\n') && m_process.waitForReadyRead(5000))
        line += m_process.readLine();
    const auto match = QRegularExpression(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"))
                           .match(QString::fromUtf8(line));
    if (match.hasMatch())
        m_port = match.captured(1).toInt();
}

StandinServer::~StandinServer() {
    stop();
}

void StandinServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
    m_port = 0;
}

QUrl StandinServer::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

QList<QJsonObject> StandinServer::requests(const QString& path) const {
    QList<QJsonObject> result;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty() && (path.isEmpty() || object.value(QStringLiteral("path")).toString() == path))
            result << object;
    }
    return result;
}
