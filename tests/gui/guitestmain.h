#pragma once
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "module1.h"
#include "sandbox.h"

#include <QMouseEvent>

// A click with the left button in the middle of a widget, delivered at once.
inline void ClickWidget(QWidget* widget)
{
    const QPoint at = widget->rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// The shown top-level window of a type, or nullptr.
template <typename W>
W* Open()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* w = qobject_cast<W*>(window); w && w->isVisible())
            return w;
    return nullptr;
}

// Runs a window test in a sandbox of its own.
#define VARDUNE_GUI_TEST_MAIN(TestClass)                                                    \
    int main(int argc, char* argv[])                                                       \
    {                                                                                      \
        QTemporaryDir sandbox;                                                             \
        EnterSandbox(sandbox.path());                                                      \
        QApplication app(argc, argv);                                                      \
        QApplication::setApplicationName(QStringLiteral("Vardune"));                       \
        TestClass test;                                                                    \
        const int failed = QTest::qExec(&test, argc, argv);                                \
        Module1::Test::ReleaseInstanceLock();                                              \
        return failed;                                                                     \
    }
