#include "FakeWatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

namespace {
const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

QVariantMap properties() {
    return {{QStringLiteral("IsStatusNotifierHostRegistered"), true},
            {QStringLiteral("ProtocolVersion"), 0},
            {QStringLiteral("RegisteredStatusNotifierItems"), QStringList{}}};
}
} // namespace

FakeWatcher::FakeWatcher() {
    auto bus = QDBusConnection::sessionBus();
    ok = bus.isConnected() && bus.registerVirtualObject(watcherPath, this) && bus.registerService(watcherName);
}

FakeWatcher::~FakeWatcher() {
    auto bus = QDBusConnection::sessionBus();
    bus.unregisterService(watcherName);
    bus.unregisterObject(watcherPath);
}

QString FakeWatcher::introspect(const QString&) const {
    return QStringLiteral(R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
</interface>)");
}

bool FakeWatcher::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString member = message.member();
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
        if (member == QLatin1String("Get") && message.arguments().size() == 2) {
            const QVariant value = properties().value(message.arguments().at(1).toString());
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        if (member == QLatin1String("GetAll")) {
            connection.send(message.createReply(properties()));
            return true;
        }
        return false;
    }
    if (member == QLatin1String("RegisterStatusNotifierItem")) {
        if (!firstItem)
            firstItem = message.service();
        connection.send(message.createReply());
        if (onItem)
            onItem(message.service());
        return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierHost")) {
        connection.send(message.createReply());
        return true;
    }
    return false;
}
