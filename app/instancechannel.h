#pragma once
#include <QObject>

#include <functional>

class QLocalServer;

// How a copy of Vardune that is turned away tells the running one to come to the front: the
// running copy listens on a local socket in the user's runtime folder, and any connection
// there is a knock. Nothing that arrives is read as a command, so whatever connects can do no
// more than bring the window forward; only the user can connect.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // Listens in folder (the folder of the instance lock) and calls knocked for each knock.
    InstanceChannel(const QString& folder, std::function<void()> knocked, QObject* parent = nullptr);

    // Knocks at the running copy's socket in folder, waiting a moment at most; false when
    // nobody listens.
    static bool Knock(const QString& folder);
    static QString SocketPath(const QString& folder);

    bool IsListening() const;

private:
    QLocalServer* server_;
    std::function<void()> knocked_;
};
