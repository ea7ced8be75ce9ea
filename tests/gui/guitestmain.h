#pragma once
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "module1.h"

// Runs a window test with a home, configuration and runtime folder of its own, so it never
// touches the user's files or meets another run's instance lock.
#define VARDUNE_GUI_TEST_MAIN(TestClass)                                                    \
    int main(int argc, char* argv[])                                                       \
    {                                                                                      \
        QTemporaryDir sandbox;                                                             \
        const QString root = sandbox.path();                                               \
        QDir(root).mkpath(QStringLiteral("home"));                                         \
        QDir(root).mkpath(QStringLiteral("config"));                                       \
        QDir(root).mkpath(QStringLiteral("run"));                                          \
        QFile::setPermissions(root + QStringLiteral("/run"),                               \
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner             \
                                  | QFileDevice::ExeOwner);                                \
        qputenv("HOME", (root + QStringLiteral("/home")).toUtf8());                        \
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());           \
        qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/run")).toUtf8());              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                       \
        QApplication app(argc, argv);                                                      \
        QApplication::setApplicationName(QStringLiteral("Vardune"));                       \
        QApplication::setApplicationDisplayName(QStringLiteral("Vardune"));                \
        TestClass test;                                                                    \
        const int failed = QTest::qExec(&test, argc, argv);                                \
        Module1::Test::ReleaseInstanceLock();                                              \
        return failed;                                                                     \
    }
