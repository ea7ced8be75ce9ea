#pragma once
#include <QDir>
#include <QFile>
#include <QString>

// Gives a run of the program's windows a home, configuration and runtime folder of its own
// under root, so it never touches the user's files or meets another run's instance lock.
// Without a display the windows are drawn offscreen. Call before the QApplication is made.
inline void EnterSandbox(const QString& root)
{
    for (const char* folder : {"home", "config", "run"})
        QDir(root).mkpath(QLatin1String(folder));
    QFile::setPermissions(root + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", (root + QStringLiteral("/home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/run")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// Serves events until done() holds or the time is up; for programs that are not Qt tests.
template <typename F>
bool WaitFor(F&& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

inline void Wait(int milliseconds)
{
    WaitFor([] { return false; }, milliseconds);
}
