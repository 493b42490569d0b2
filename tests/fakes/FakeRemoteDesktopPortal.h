#pragma once

#include <gio/gio.h>

#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fakes {

/// org.freedesktop.portal.Desktop with the RemoteDesktop interface, on the bus at `address`, served
/// by a thread of its own. It grants (or refuses, as told) every Start, hands out restore tokens
/// "token-1", "token-2"... when asked to persist, and records what it was asked.
class FakeRemoteDesktopPortal {
public:
    struct Selection {
        std::optional<guint32> types, persistMode;
        std::optional<std::string> restoreToken;
    };
    struct Seen {
        std::vector<Selection> selections;
        int starts = 0;
        int closes = 0;
        std::vector<std::pair<int, guint32>> keys; ///< (evdev code, 1 down / 0 up)
    };

    FakeRemoteDesktopPortal(const std::string& address, guint32 version) : version(version) {
        std::promise<bool> owned;
        auto ready = owned.get_future();
        thread = std::thread([this, address, owned = std::move(owned)]() mutable { run(address, owned); });
        ready.wait();
    }
    ~FakeRemoteDesktopPortal() {
        g_main_context_invoke(
            context,
            [](gpointer loop) {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop);
        thread.join();
    }

    void answerStart(guint32 code) {
        std::lock_guard lock(mutex);
        startAnswer = code;
    }
    void setVersion(guint32 value) {
        std::lock_guard lock(mutex);
        version = value;
    }
    Seen seen() const {
        std::lock_guard lock(mutex);
        return record;
    }

private:
    static constexpr const char* xml = R"(<node>
      <interface name="org.freedesktop.portal.RemoteDesktop">
        <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
        <method name="SelectDevices"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
          <arg type="o" direction="out"/></method>
        <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/>
          <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
        <method name="NotifyKeyboardKeycode"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
          <arg type="i" direction="in"/><arg type="u" direction="in"/></method>
        <property name="version" type="u" access="read"/>
      </interface>
      <interface name="org.freedesktop.portal.Session"><method name="Close"/></interface>
    </node>)";

    void run(const std::string& address, std::promise<bool>& owned) {
        context = g_main_context_new();
        g_main_context_push_thread_default(context);
        loop = g_main_loop_new(context, FALSE);
        connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        info = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable table = {
            &FakeRemoteDesktopPortal::call, &FakeRemoteDesktopPortal::get, nullptr, {}};
        g_dbus_connection_register_object(connection, "/org/freedesktop/portal/desktop", info->interfaces[0], &table,
                                          this, nullptr, nullptr);
        GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "RequestName",
                                                      g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                                                      nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        owned.set_value(reply != nullptr);
        if (reply != nullptr)
            g_variant_unref(reply);
        g_main_loop_run(loop);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
        g_dbus_node_info_unref(info);
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    static GVariant* get(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                         gpointer self) {
        auto* portal = static_cast<FakeRemoteDesktopPortal*>(self);
        std::lock_guard lock(portal->mutex);
        return g_variant_new_uint32(portal->version);
    }

    // The request object path a client expects for its handle_token.
    static std::string handleFor(const gchar* sender, GVariant* options) {
        std::string name = sender + 1;
        for (char& c : name) {
            if (c == '.')
                c = '_';
        }
        const gchar* token = "none";
        g_variant_lookup(options, "handle_token", "&s", &token);
        return "/org/freedesktop/portal/desktop/request/" + name + "/" + token;
    }

    void respond(GDBusMethodInvocation* invocation, const gchar* sender, const std::string& handle, guint32 code,
                 GVariant* results) {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", handle.c_str()));
        g_dbus_connection_emit_signal(connection, sender, handle.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(u@a{sv})", code, results), nullptr);
    }

    static void call(GDBusConnection*, const gchar* sender, const gchar*, const gchar* interface, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        auto* portal = static_cast<FakeRemoteDesktopPortal*>(self);
        std::unique_lock lock(portal->mutex);
        const std::string name = method;
        GVariantDict results;
        g_variant_dict_init(&results, nullptr);
        if (std::string(interface) == "org.freedesktop.portal.Session") {
            ++portal->record.closes;
            g_variant_dict_clear(&results);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        } else if (name == "CreateSession") {
            GVariant* options = g_variant_get_child_value(parameters, 0);
            const gchar* token = "s";
            g_variant_lookup(options, "session_handle_token", "&s", &token);
            const std::string session = "/org/freedesktop/portal/desktop/session/x/" + std::string(token);
            g_dbus_connection_register_object(portal->connection, session.c_str(), portal->info->interfaces[1],
                                              &sessionTable, portal, nullptr, nullptr);
            g_variant_dict_insert(&results, "session_handle", "s", session.c_str());
            lock.unlock();
            portal->respond(invocation, sender, handleFor(sender, options), 0, g_variant_dict_end(&results));
            g_variant_unref(options);
        } else if (name == "SelectDevices") {
            GVariant* options = g_variant_get_child_value(parameters, 1);
            Selection selection;
            guint32 number = 0;
            const gchar* text = nullptr;
            if (g_variant_lookup(options, "types", "u", &number))
                selection.types = number;
            if (g_variant_lookup(options, "persist_mode", "u", &number))
                selection.persistMode = number;
            if (g_variant_lookup(options, "restore_token", "&s", &text))
                selection.restoreToken = text;
            portal->persist = selection.persistMode.value_or(0) != 0;
            portal->record.selections.push_back(selection);
            lock.unlock();
            portal->respond(invocation, sender, handleFor(sender, options), 0, g_variant_dict_end(&results));
            g_variant_unref(options);
        } else if (name == "Start") {
            GVariant* options = g_variant_get_child_value(parameters, 2);
            const int start = ++portal->record.starts;
            const guint32 code = portal->startAnswer;
            if (code == 0) {
                g_variant_dict_insert(&results, "devices", "u", 1u);
                if (portal->persist)
                    g_variant_dict_insert(&results, "restore_token", "s", ("token-" + std::to_string(start)).c_str());
            }
            lock.unlock();
            portal->respond(invocation, sender, handleFor(sender, options), code, g_variant_dict_end(&results));
            g_variant_unref(options);
        } else if (name == "NotifyKeyboardKeycode") {
            gint32 code = 0;
            guint32 state = 0;
            g_variant_get(parameters, "(&o@a{sv}iu)", nullptr, nullptr, &code, &state);
            portal->record.keys.emplace_back(code, state);
            g_variant_dict_clear(&results);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    }

    static inline const GDBusInterfaceVTable sessionTable = {&FakeRemoteDesktopPortal::call, nullptr, nullptr, {}};

    mutable std::mutex mutex;
    guint32 version;
    guint32 startAnswer = 0;
    bool persist = false;
    Seen record;
    std::thread thread;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* connection = nullptr;
    GDBusNodeInfo* info = nullptr;
};

} // namespace fakes
