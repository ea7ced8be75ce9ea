#pragma once
#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so that the operating
// system ending the program takes the same path as closing the main window: the settings are
// saved, then the process ends. Until Listen (just before the event loop runs), and whenever
// a signal has waited unread for seconds (the loop is stuck), a signal ends the program at
// once, as if it were not caught: the program can always be ended from its first moment.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;
    // The event loop is about to run: signals go through it from now on.
    void Listen();

signals:
    void Received();

private:
    QSocketNotifier* notifier_ = nullptr;
};
