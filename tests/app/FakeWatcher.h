#pragma once

#include <QDBusVirtualObject>
#include <QString>

#include <functional>
#include <optional>

/// A StatusNotifierWatcher on the session bus that says a tray host is registered, as a desktop's
/// panel would: Qt then publishes the tray item and its menu over D-Bus, where the test reads and
/// clicks them. Create it before the program starts.
class FakeWatcher : public QDBusVirtualObject {
public:
    FakeWatcher();
    ~FakeWatcher() override;

    /// False when the bus or the watcher's name is not available.
    bool registered() const { return ok; }
    /// The bus name of the first item that registered.
    std::optional<QString> item() const { return firstItem; }
    /// Called with the bus name of each item that registers.
    std::function<void(const QString&)> onItem;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    bool ok = false;
    std::optional<QString> firstItem;
};
