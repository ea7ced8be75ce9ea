#pragma once
#include <QObject>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

// How a copy of Vardune that is turned away reaches the running one: the running copy listens
// on a local socket in the user's runtime folder, which only the user can connect to. A bare
// connection is a knock: the window comes to the front. A copy started with files (a file
// manager's "Open With") hands their paths over: each absolute path ended by a NUL byte, the
// whole ended by one more NUL; the running copy answers one byte when it has them. Nothing else
// is read as a command: the paths go through the list's own checks like a drop.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // Listens in folder (the folder of the instance lock) and calls arrived for each knock
    // (with no paths) and each hand-over (with its paths).
    InstanceChannel(const QString& folder, std::function<void(const QByteArrayList&)> arrived, QObject* parent = nullptr);

    // Knocks at the running copy's socket in folder, waiting a moment at most; false when
    // nobody listens.
    static bool Knock(const QString& folder);
    // Hands paths, absolute (the running copy works in another folder) and as the file system
    // names them (bytes), to the running copy; true once it said it has them.
    static bool Hand(const QString& folder, const QByteArrayList& paths);
    static QString SocketPath(const QString& folder);

    // The longest hand-over read; a longer one is dropped whole.
    static constexpr qint64 kLongest = 16 << 20;

    bool IsListening() const;

private:
    void Read(QLocalSocket* socket);

    QLocalServer* server_;
    std::function<void(const QByteArrayList&)> arrived_;
};
