#pragma once

#include <gio/gio.h>

#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fakes {

/// org.freedesktop.portal.Desktop with the RemoteDesktop interface, on the bus at `address`, served
/// by a thread of its own. Start is answered with `startAnswer` (0 granted, 1 refused); a granted
/// start of a session asked to persist hands out "token-1", "token-2"... Every call is recorded as
/// one line: the method and its printed options, or "key CODE STATE", or "Close". With `toMutter`,
/// the keys also go on to Mutter's own remote-desktop service on that bus, as GNOME's portal does,
/// and so reach the focused window without the consent dialog.
class FakeRemoteDesktopPortal {
public:
    FakeRemoteDesktopPortal(const std::string& address, guint32 version, bool toMutter = false)
        : version(version), toMutter(toMutter) {
        std::promise<void> owned;
        thread = std::thread([&] { run(address, owned); });
        owned.get_future().wait();
    }
    ~FakeRemoteDesktopPortal() {
        g_main_context_invoke(
            context, [](gpointer loop) { return g_main_loop_quit(static_cast<GMainLoop*>(loop)), 0; }, loop);
        thread.join();
    }

    std::vector<std::string> calls() {
        std::lock_guard lock(mutex);
        return log;
    }

    std::mutex mutex;
    guint32 version;
    guint32 startAnswer = 0;

private:
    static constexpr const char* xml = R"(<node>
      <interface name="org.freedesktop.portal.RemoteDesktop">
        <method name="CreateSession"><arg type="a{sv}"/><arg type="o" direction="out"/></method>
        <method name="SelectDevices"><arg type="o"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
        <method name="Start"><arg type="o"/><arg type="s"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
        <method name="NotifyKeyboardKeycode"><arg type="o"/><arg type="a{sv}"/><arg type="i"/><arg type="u"/></method>
        <property name="version" type="u" access="read"/>
      </interface>
      <interface name="org.freedesktop.portal.Session"><method name="Close"/></interface>
    </node>)";

    void run(const std::string& address, std::promise<void>& owned) {
        context = g_main_context_new();
        g_main_context_push_thread_default(context);
        loop = g_main_loop_new(context, FALSE);
        connection =
            g_dbus_connection_new_for_address_sync(address.c_str(),
                                                   GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, nullptr);
        info = g_dbus_node_info_new_for_xml(xml, nullptr);
        g_dbus_connection_register_object(connection, "/org/freedesktop/portal/desktop", info->interfaces[0], &table,
                                          this, nullptr, nullptr);
        g_variant_unref(g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                    "org.freedesktop.DBus", "RequestName",
                                                    g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                                                    nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        owned.set_value();
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

    static void call(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        auto* portal = static_cast<FakeRemoteDesktopPortal*>(self);
        std::unique_lock lock(portal->mutex);
        const std::string name = method;
        if (name == "NotifyKeyboardKeycode" || name == "Close") {
            gint32 code = 0;
            guint32 state = 0;
            if (name != "Close")
                g_variant_get(parameters, "(&o@a{sv}iu)", nullptr, nullptr, &code, &state);
            portal->log.push_back(name == "Close" ? name : "key " + std::to_string(code) + " " + std::to_string(state));
            if (name != "Close" && !portal->mutterSession.empty()) {
                if (GVariant* sent = portal->mutter(portal->mutterSession, true, "NotifyKeyboardKeycode",
                                                    g_variant_new("(ub)", static_cast<guint32>(code), state != 0)))
                    g_variant_unref(sent);
            }
            g_dbus_method_invocation_return_value(invocation, nullptr);
            return;
        }
        GVariant* options = g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
        gchar* printed = g_variant_print(options, FALSE);
        portal->log.push_back(name + " " + printed);
        g_free(printed);
        const gchar* restore = "";
        if (g_variant_lookup(options, "restore_token", "&s", &restore) && std::string(restore).rfind("token-", 0)) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                                                       "Restore token is not a valid UUID string");
            g_variant_unref(options);
            return;
        }
        GVariantDict results;
        g_variant_dict_init(&results, nullptr);
        guint32 code = 0;
        if (name == "CreateSession") {
            const std::string session = "/org/freedesktop/portal/desktop/session/x/s" + std::to_string(++portal->count);
            g_dbus_connection_register_object(connection, session.c_str(), portal->info->interfaces[1], &table, portal,
                                              nullptr, nullptr);
            g_variant_dict_insert(&results, "session_handle", "s", session.c_str());
        } else if (name == "SelectDevices") {
            portal->persist = g_variant_lookup(options, "persist_mode", "u", &code);
            code = 0;
        } else if (name == "Start" && (code = portal->startAnswer) == 0) {
            g_variant_dict_insert(&results, "devices", "u", 1u);
            if (portal->toMutter && portal->mutterSession.empty()) {
                GVariant* made = portal->mutter("/org/gnome/Mutter/RemoteDesktop", false, "CreateSession", nullptr);
                if (made != nullptr) {
                    const gchar* path = nullptr;
                    g_variant_get(made, "(&o)", &path);
                    portal->mutterSession = path;
                    g_variant_unref(made);
                    if (GVariant* started = portal->mutter(portal->mutterSession, true, "Start", nullptr))
                        g_variant_unref(started);
                }
            }
            if (portal->persist)
                g_variant_dict_insert(&results, "restore_token", "s",
                                      ("token-" + std::to_string(++portal->tokens)).c_str());
        }
        lock.unlock();
        // The request object the client expects for its handle_token.
        std::string handle = std::string("/org/freedesktop/portal/desktop/request/") + (sender + 1) + "/";
        for (char& c : handle)
            c = c == '.' ? '_' : c;
        const gchar* token = "";
        g_variant_lookup(options, "handle_token", "&s", &token);
        handle += token;
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", handle.c_str()));
        g_dbus_connection_emit_signal(connection, sender, handle.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(u@a{sv})", code, g_variant_dict_end(&results)), nullptr);
        g_variant_unref(options);
    }

    // Calls `method` of Mutter's remote-desktop service (of a session of it, with `session`).
    GVariant* mutter(const std::string& path, bool session, const char* method, GVariant* parameters) {
        const char* name = "org.gnome.Mutter.RemoteDesktop";
        const std::string interface = std::string(name) + (session ? ".Session" : "");
        return g_dbus_connection_call_sync(connection, name, path.c_str(), interface.c_str(), method, parameters,
                                           nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    }

    static inline const GDBusInterfaceVTable table = {
        &FakeRemoteDesktopPortal::call, &FakeRemoteDesktopPortal::get, nullptr, {}};

    std::vector<std::string> log;
    bool toMutter;
    std::string mutterSession;
    bool persist = false;
    int count = 0, tokens = 0;
    std::thread thread;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* connection = nullptr;
    GDBusNodeInfo* info = nullptr;
};

} // namespace fakes
