#pragma once
#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so that the operating
// system ending the program takes the same path as closing the main window: the settings are
// saved, then the process ends.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void Received();

private:
    QSocketNotifier* notifier_ = nullptr;
};
