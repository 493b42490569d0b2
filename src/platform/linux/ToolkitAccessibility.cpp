#include "platform/linux/ToolkitAccessibility.h"

#include <gio/gio.h>

#include <memory>

namespace platform::lnx {

namespace {

constexpr int callTimeoutMilliseconds = 1000;

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};

std::unique_ptr<GDBusConnection, Unref> sessionBus() {
    GError* error = nullptr;
    std::unique_ptr<GDBusConnection, Unref> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    g_clear_error(&error);
    return bus;
}

// One call to the properties of the accessibility bus's status object; null on any failure.
std::unique_ptr<GVariant, VariantUnref> callStatus(const char* method, GVariant* parameters, const char* replyType) {
    auto bus = sessionBus();
    if (!bus) {
        if (parameters != nullptr) {
            g_variant_unref(g_variant_ref_sink(parameters));
        }
        return nullptr;
    }
    GError* error = nullptr;
    std::unique_ptr<GVariant, VariantUnref> reply(g_dbus_connection_call_sync(
        bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", method, parameters,
        G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, callTimeoutMilliseconds, nullptr, &error));
    g_clear_error(&error);
    return reply;
}

} // namespace

std::optional<bool> ToolkitAccessibility::enabled() {
    auto reply = callStatus("Get", g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), "(v)");
    if (!reply) {
        return std::nullopt;
    }
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    std::unique_ptr<GVariant, VariantUnref> value(boxed);
    if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN)) {
        return std::nullopt;
    }
    return g_variant_get_boolean(value.get()) != FALSE;
}

bool ToolkitAccessibility::setEnabled(bool on) {
    auto reply = callStatus(
        "Set", g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(on ? TRUE : FALSE)), "()");
    return reply != nullptr;
}

} // namespace platform::lnx
