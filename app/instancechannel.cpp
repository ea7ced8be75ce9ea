#include "instancechannel.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <filesystem>

namespace {

// The running copy's answer once it has the paths.
constexpr char kTaken = '\n';
// How long a hand-over may take before the running copy gives up on it.
constexpr int kPatience = 10000;
const char* const kBuffer = "vardune.buffer";
const char* const kDone = "vardune.done";

} // namespace

InstanceChannel::InstanceChannel(const QString& folder, std::function<void(const QByteArrayList&)> arrived, QObject* parent)
    : QObject(parent)
    , server_(new QLocalServer(this))
    , arrived_(std::move(arrived))
{
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The caller holds the instance lock, so a socket left there belongs to a copy that died.
    QLocalServer::removeServer(SocketPath(folder));
    server_->listen(SocketPath(folder));
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            // A copy that connects and says nothing knocks; one that stops half-way is dropped.
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
            connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
                const bool knock = socket->property(kBuffer).toByteArray().isEmpty() && !socket->property(kDone).toBool();
                socket->setProperty(kDone, true);
                socket->deleteLater();
                if (knock && arrived_)
                    arrived_({});
            });
            QTimer::singleShot(kPatience, socket, [socket] {
                socket->setProperty(kDone, true);
                socket->abort();
            });
            Read(socket);
        }
    });
}

void InstanceChannel::Read(QLocalSocket* socket)
{
    if (socket->property(kDone).toBool())
        return;
    QByteArray buffer = socket->property(kBuffer).toByteArray() + socket->readAll();
    if (buffer.size() > kLongest) {
        socket->setProperty(kDone, true);
        socket->abort();
        return;
    }
    socket->setProperty(kBuffer, buffer);
    // The end: an empty record, i.e. a NUL at the start or two in a row.
    if (!(buffer == QByteArray(1, '\0') || buffer.endsWith(QByteArray(2, '\0'))))
        return;
    socket->setProperty(kDone, true);
    QByteArrayList paths;
    for (const QByteArray& record : buffer.split('\0')) {
        // A relative path would be read against this copy's folder, not the sender's. Paths
        // stay the bytes the file system names them by.
        if (record.startsWith('/'))
            paths << QByteArray::fromStdString(std::filesystem::path(record.toStdString()).lexically_normal().string());
    }
    socket->write(&kTaken, 1);
    socket->flush();
    socket->disconnectFromServer();
    if (arrived_)
        arrived_(paths);
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

bool InstanceChannel::Hand(const QString& folder, const QByteArrayList& paths)
{
    QByteArray message;
    for (const QByteArray& path : paths) {
        if (!path.startsWith('/') || path.contains('\0'))
            continue;
        message += path;
        message += '\0';
    }
    message += '\0';
    QLocalSocket socket;
    socket.connectToServer(SocketPath(folder));
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(message);
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(kPatience))
            return false;
    while (socket.bytesAvailable() == 0)
        if (!socket.waitForReadyRead(kPatience))
            return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == kTaken;
}
