#include "desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

void DesktopNotifier::Notify(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // server's default).
    call << QStringLiteral("Vardune") << 0u << QStringLiteral("vardune") << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("vardune")}} << -1;
    // No answer is awaited: a missing service only makes the bus answer with an error nobody
    // needs to read.
    bus.send(call);
}
