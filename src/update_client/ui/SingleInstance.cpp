#include "update_client/ui/SingleInstance.h"

#include "handover/Locks.h"
#include "platform/Elevation.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

constexpr int kAskMs = 2000;

} // namespace

SingleInstance::SingleInstance(const QString& programFolder, QObject* parent)
    : QObject(parent), m_folder(programFolder),
      m_serverName(
          u"vesmora-"_s +
          QString::fromLatin1(QCryptographicHash::hash(
                                  handover::lockPath(programFolder, handover::Holder::MainProgram).toUtf8(),
                                  QCryptographicHash::Sha256)
                                  .toHex()
                                  .left(24))) {
    connect(this, &SingleInstance::raiseRequested, this, &SingleInstance::bringForward);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim() {
    // A start without administrator rights only starts itself again elevated and ends: the
    // elevated one must not find the folder taken.
    if (!platform::isElevated())
        return true;
    handover::LockState state = handover::LockState::CannotMake;
    m_lock = handover::takeLock(m_folder, handover::Holder::MainProgram, &state);
    switch (state) {
    case handover::LockState::Taken:
        listen();
        return true;
    case handover::LockState::CannotMake:
        m_notice =
            u"无法写入文件夹 %1，本程序无法确认是否已有一个 Vesmora 在同一文件夹运行。"
            "请勿同时运行两个 Vesmora。"_s.arg(QDir::toNativeSeparators(
                QFileInfo(handover::lockPath(m_folder, handover::Holder::MainProgram)).absolutePath()));
        return true;
    case handover::LockState::Held:
        break;
    }
    // The running one may still be setting up; at worst it is not brought forward.
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    // The running one closes the connection once it has taken the request.
    if (socket.waitForConnected(kAskMs)) {
        socket.write("r");
        if (socket.waitForBytesWritten(kAskMs))
            socket.waitForDisconnected(kAskMs);
    }
    return false;
}

void SingleInstance::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock: a name left behind by a crashed start is stale.
    if (!m_server->listen(m_serverName)) {
        QLocalServer::removeServer(m_serverName);
        m_server->listen(m_serverName);
    }
    // A connection is the request itself: nothing else is ever sent.
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit raiseRequested();
        }
    });
}

void SingleInstance::bringForward() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (!window->isVisible() || window->windowType() == Qt::Popup || window->windowType() == Qt::ToolTip)
            continue;
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        window->activateWindow();
    }
}
