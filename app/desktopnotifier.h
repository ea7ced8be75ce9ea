#pragma once
#include <QString>

// Tells the user something through the desktop's notification service (the freedesktop
// notification interface on the session bus). Where no bus or no such service runs, nothing
// happens: it never waits and never fails visibly.
class DesktopNotifier {
public:
    static void Notify(const QString& summary, const QString& body);
};
