#include "platform/linux/PortalKeySender.h"

#include "platform/linux/ModifierWait.h"
#include "platform/linux/PasteStrokes.h"

#include <gio/gio.h>
#include <linux/input-event-codes.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace platform::lnx {

namespace {

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* remoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr int callTimeoutMilliseconds = 5000;
constexpr int closeTimeoutMilliseconds = 1000;
constexpr guint32 keyboardDevice = 1;
constexpr guint32 persistUntilRevoked = 2;
constexpr const char* tokenLabel = "Ruvex Voice: разрешение вставлять текст";

struct VariantUnref {
    void operator()(GVariant* value) const {
        if (value != nullptr)
            g_variant_unref(value);
    }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// The portal's RemoteDesktop interface version; 0 when no portal answers.
guint32 versionOn(GDBusConnection* connection) {
    GError* error = nullptr;
    Variant reply(g_dbus_connection_call_sync(connection, portalName, portalPath, "org.freedesktop.DBus.Properties",
                                              "Get", g_variant_new("(ss)", remoteDesktop, "version"),
                                              G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, callTimeoutMilliseconds,
                                              nullptr, &error));
    g_clear_error(&error);
    if (!reply)
        return 0;
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    Variant value(boxed);
    return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(value.get()) : 0;
}

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Filled by a signal handler on the sender's thread. Shared with GDBus, which may still hold a
// dispatch of it after the subscription ended.
struct Box {
    bool arrived = false;
    guint32 code = 2;
    Variant results;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                gpointer data) {
    auto& box = **static_cast<std::shared_ptr<Box>*>(data);
    if (box.arrived || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
        return;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &box.code, &results);
    box.results.reset(results);
    box.arrived = true;
}

void onClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer data) {
    (*static_cast<std::shared_ptr<Box>*>(data))->arrived = true;
}

void freeBox(gpointer data) {
    delete static_cast<std::shared_ptr<Box>*>(data);
}

} // namespace

// The connection, the session and its requests; lives on the sender's thread, whose GLib context
// it makes the thread's default for its life so that signals are dispatched there.
class PortalKeySender::Portal {
public:
    Portal(SecretStore* secrets, std::function<void(double)>& pause) : secrets(secrets), pause(pause) {
        context = g_main_context_new();
        g_main_context_push_thread_default(context);
    }

    ~Portal() {
        closeSession();
        if (connection != nullptr) {
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        // Ended subscriptions release their data from this context: let them.
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    /// A started session that takes keyboard events; asks the user when there is none.
    bool ensureSession() {
        // Deliver what arrived meanwhile (the desktop may have closed the session).
        while (g_main_context_iteration(context, FALSE)) {
        }
        if (closed && closed->arrived)
            dropSession();
        if (!session.empty())
            return true;
        return connect() && startSession();
    }

    bool key(unsigned code, bool pressed) {
        GError* error = nullptr;
        Variant reply(g_dbus_connection_call_sync(
            connection, portalName, portalPath, remoteDesktop, "NotifyKeyboardKeycode",
            g_variant_new("(o@a{sv}iu)", session.c_str(), g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0),
                          static_cast<gint32>(code), pressed ? 1u : 0u),
            nullptr, G_DBUS_CALL_FLAGS_NONE, callTimeoutMilliseconds, nullptr, &error));
        g_clear_error(&error);
        return reply != nullptr;
    }

    void closeSession() {
        if (session.empty())
            return;
        // Waited for (briefly), so that the desktop has let the keyboard go before anything else.
        Variant reply(g_dbus_connection_call_sync(connection, portalName, session.c_str(),
                                                  "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, closeTimeoutMilliseconds, nullptr, nullptr));
        dropSession();
    }

private:
    bool connect() {
        if (connection != nullptr)
            return !g_dbus_connection_is_closed(connection) || reconnect();
        return reconnect();
    }

    bool reconnect() {
        if (connection != nullptr)
            g_object_unref(connection);
        connection = nullptr;
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address != nullptr) {
            // A connection of its own: the portal ends the session when it closes.
            connection = g_dbus_connection_new_for_address_sync(
                address,
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
            g_free(address);
        }
        g_clear_error(&error);
        if (connection != nullptr)
            g_dbus_connection_set_exit_on_close(connection, FALSE);
        return connection != nullptr;
    }

    /// With `offerToken`, a stored restore token is offered so that the desktop need not ask again.
    bool startSession(bool offerToken = true) {
        const guint32 portalVersion = versionOn(connection);
        if (portalVersion == 0)
            return false;
        const std::string sessionToken = nextToken();
        auto created = request("CreateSession", [&](GVariantBuilder& options) {
            g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(sessionToken.c_str()));
            return g_variant_new("(a{sv})", &options);
        });
        const gchar* handle = nullptr;
        if (!created || created->first != 0 ||
            !g_variant_lookup(created->second.get(), "session_handle", "&s", &handle))
            return false;
        session = handle;
        watchClosed();

        // Remembering the answer came with version 2; older portals may refuse the options.
        std::optional<std::string> token;
        if (offerToken && portalVersion >= 2 && secrets != nullptr)
            token = secrets->lookup(secretService, secretAccount);
        auto selected = request("SelectDevices", [&](GVariantBuilder& options) {
            g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(keyboardDevice));
            if (portalVersion >= 2) {
                g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(persistUntilRevoked));
                if (token)
                    g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(token->c_str()));
            }
            return g_variant_new("(oa{sv})", session.c_str(), &options);
        });
        if (!selected || selected->first != 0) {
            closeSession();
            // A token the portal rejects (damaged, or from another portal) would fail every start.
            if (token) {
                secrets->clear(secretService, secretAccount);
                return startSession(false);
            }
            return false;
        }

        // The dialog, unless the token stood for an earlier yes.
        auto started = request(
            "Start",
            [&](GVariantBuilder& options) { return g_variant_new("(osa{sv})", session.c_str(), "", &options); },
            consentSeconds);
        guint32 devices = 0;
        const bool granted = started && started->first == 0 &&
                             g_variant_lookup(started->second.get(), "devices", "u", &devices) &&
                             (devices & keyboardDevice) != 0;
        if (portalVersion >= 2 && secrets != nullptr) {
            const gchar* next = nullptr;
            if (granted && g_variant_lookup(started->second.get(), "restore_token", "&s", &next))
                secrets->store(secretService, secretAccount, tokenLabel, next);
            else if (token)
                secrets->clear(secretService, secretAccount); // used up or refused
        }
        if (!granted) {
            closeSession();
            return false;
        }
        // Some desktops lose the first key of a new session: spend it on a lone Shift.
        key(KEY_LEFTSHIFT, true);
        key(KEY_LEFTSHIFT, false);
        pause(warmUpSeconds);
        return true;
    }

    /// Calls `method` with the options `build` makes (a handle token is added) and waits for the
    /// request's Response signal: its code (0 granted, 1 refused, 2 other) and results.
    template <typename Build>
    std::optional<std::pair<guint32, Variant>> request(const char* method, Build build,
                                                       double timeoutSeconds = callTimeoutMilliseconds / 1000.0) {
        const std::string token = nextToken();
        std::string sender = g_dbus_connection_get_unique_name(connection) + 1;
        for (char& c : sender) {
            if (c == '.')
                c = '_';
        }
        const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
        auto box = std::make_shared<Box>();
        guint subscription = subscribe(path, box);

        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        GError* error = nullptr;
        Variant reply(g_dbus_connection_call_sync(connection, portalName, portalPath, remoteDesktop, method,
                                                  build(options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                                  callTimeoutMilliseconds, nullptr, &error));
        g_clear_error(&error);
        if (!reply) {
            g_dbus_connection_signal_unsubscribe(connection, subscription);
            return std::nullopt;
        }
        const gchar* handle = nullptr;
        g_variant_get(reply.get(), "(&o)", &handle);
        if (path != handle) { // a portal that chose its own request path
            g_dbus_connection_signal_unsubscribe(connection, subscription);
            subscription = subscribe(handle, box);
        }
        const bool answered = wait(*box, timeoutSeconds);
        g_dbus_connection_signal_unsubscribe(connection, subscription);
        if (!answered) {
            g_dbus_connection_call(connection, portalName, handle, "org.freedesktop.portal.Request", "Close", nullptr,
                                   nullptr, G_DBUS_CALL_FLAGS_NONE, callTimeoutMilliseconds, nullptr, nullptr, nullptr);
            return std::nullopt;
        }
        return std::make_pair(box->code, std::move(box->results));
    }

    guint subscribe(const std::string& path, const std::shared_ptr<Box>& box) {
        return g_dbus_connection_signal_subscribe(connection, portalName, "org.freedesktop.portal.Request", "Response",
                                                  path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse,
                                                  new std::shared_ptr<Box>(box), freeBox);
    }

    void watchClosed() {
        closed = std::make_shared<Box>();
        closedSubscription = g_dbus_connection_signal_subscribe(
            connection, portalName, "org.freedesktop.portal.Session", "Closed", session.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, onClosed, new std::shared_ptr<Box>(closed), freeBox);
    }

    bool wait(const Box& box, double seconds) {
        bool late = false;
        GSource* timer = g_timeout_source_new(static_cast<guint>(seconds * 1000));
        g_source_set_callback(
            timer,
            [](gpointer data) {
                *static_cast<bool*>(data) = true;
                return G_SOURCE_REMOVE;
            },
            &late, nullptr);
        g_source_attach(timer, context);
        while (!box.arrived && !late)
            g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        return box.arrived;
    }

    void dropSession() {
        if (closedSubscription != 0)
            g_dbus_connection_signal_unsubscribe(connection, closedSubscription);
        closedSubscription = 0;
        closed.reset();
        session.clear();
    }

    std::string nextToken() { return "ruvex" + std::to_string(++tokens); }

    SecretStore* secrets;
    std::function<void(double)>& pause;
    GMainContext* context = nullptr;
    GDBusConnection* connection = nullptr;
    std::string session;
    std::shared_ptr<Box> closed;
    guint closedSubscription = 0;
    unsigned tokens = 0;
};

unsigned PortalKeySender::portalVersion() {
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (connection == nullptr)
        return 0;
    const unsigned version = versionOn(connection);
    g_object_unref(connection);
    return version;
}

PortalKeySender::PortalKeySender(core::MainQueue& main, std::shared_ptr<SecretStore> secrets,
                                 std::function<int()> heldModifiers, std::function<void(double)> pause)
    : main(main), secrets(std::move(secrets)), heldModifiers(std::move(heldModifiers)),
      pause(pause ? std::move(pause) : sleepFor) {}

PortalKeySender::~PortalKeySender() {
    worker.post([this] { portal.reset(); });
}

void PortalKeySender::sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) {
    worker.post([this, shortcut, done = std::move(done)]() mutable {
        const Result result = send(shortcut);
        main.post([done = std::move(done), result] { done(result); });
    });
}

KeySender::Result PortalKeySender::send(PasteShortcut shortcut) {
    const bool held = waitForModifiers(heldModifiers, pause);
    if (!portal)
        portal = std::make_unique<Portal>(secrets.get(), pause);
    if (!portal->ensureSession())
        return Result::failed;
    const auto strokes = pasteStrokes(shortcut);
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        if (i > 0)
            pause(gapSeconds);
        if (!portal->key(strokes[i].first, strokes[i].second)) {
            portal->closeSession();
            return Result::failed;
        }
    }
    return held ? Result::sentWithModifier : Result::sent;
}

} // namespace platform::lnx
