#include "instancechannel.h"

#include <QLocalServer>
#include <QLocalSocket>

InstanceChannel::InstanceChannel(const QString& folder, std::function<void()> knocked, QObject* parent)
    : QObject(parent)
    , server_(new QLocalServer(this))
    , knocked_(std::move(knocked))
{
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The caller holds the instance lock, so a socket left there belongs to a copy that died.
    QLocalServer::removeServer(SocketPath(folder));
    server_->listen(SocketPath(folder));
    connect(server_, &QLocalServer::newConnection, this, [this] {
        bool knock = false;
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            knock = true;
            // Nothing is read: the connection itself is the whole message.
            socket->abort();
            socket->deleteLater();
        }
        if (knock && knocked_)
            knocked_();
    });
}

bool InstanceChannel::IsListening() const
{
    return server_->isListening();
}

QString InstanceChannel::SocketPath(const QString& folder)
{
    return folder + QStringLiteral("/vardune-instance.socket");
}

bool InstanceChannel::Knock(const QString& folder)
{
    QLocalSocket socket;
    socket.connectToServer(SocketPath(folder));
    if (!socket.waitForConnected(1000))
        return false;
    socket.disconnectFromServer();
    return true;
}
