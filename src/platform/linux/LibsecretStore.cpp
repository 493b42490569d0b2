#include "platform/linux/LibsecretStore.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform::lnx {

namespace {

// Items are matched by their attributes alone: those stored by other tools carry another schema name.
const SecretSchema* schema() {
    static const SecretSchema value = [] {
        SecretSchema s{};
        s.name = "app.ruvex.voice.Secret";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0].name = "service";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[1].name = "account";
        s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return &value;
}

} // namespace

/// One call to the Secret Service. Shared by the caller and the worker, because a caller that gave
/// up returns before the worker is done with it.
struct LibsecretStore::Operation {
    enum class Kind { lookup, store, clear };

    Operation(Kind kind, std::string service, std::string account)
        : kind(kind), service(std::move(service)), account(std::move(account)) {}
    ~Operation() { g_object_unref(cancellable); }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    /// A new table of the two attributes; the strings stay owned by this operation.
    GHashTable* attributes() const {
        GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
        g_hash_table_insert(table, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
        g_hash_table_insert(table, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
        return table;
    }

    const Kind kind;
    const std::string service;
    const std::string account;
    std::string label;
    std::string secret;
    GCancellable* const cancellable = g_cancellable_new();

    // Written by the worker before `finished` is set; read by the caller only after it saw `finished`.
    bool succeeded = false;
    std::optional<std::string> found;

    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
};

/// A thread that runs a private GLib main loop. Every Secret Service call is started and completed
/// there asynchronously, so the loop never blocks and a cancelled call ends promptly.
class LibsecretStore::Worker {
public:
    Worker() : context(g_main_context_new()), loop(g_main_loop_new(context, FALSE)), thread([this] { run(); }) {}

    ~Worker() {
        // Quitting through the context, so that a loop that has not started yet still sees it.
        g_main_context_invoke(context, &Worker::quit, loop);
        thread.join();
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void submit(std::shared_ptr<Operation> operation) {
        // Handed over under our own lock, which the thread sanitizer sees (GLib's queue it cannot).
        {
            std::lock_guard lock(inboxMutex);
            inbox.push_back(std::move(operation));
        }
        g_main_context_invoke(context, &Worker::drain, this);
    }

private:
    using Holder = std::shared_ptr<Operation>;

    static gboolean drain(gpointer self) {
        auto* worker = static_cast<Worker*>(self);
        std::deque<Holder> taken;
        {
            std::lock_guard lock(worker->inboxMutex);
            taken.swap(worker->inbox);
        }
        for (auto& operation : taken) {
            begin(std::move(operation));
        }
        return G_SOURCE_REMOVE;
    }

    void run() {
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        g_main_context_pop_thread_default(context);
    }

    static gboolean quit(gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
    }

    static void begin(Holder operation) {
        const Operation& op = *operation;
        // The callback owns its own reference until the call completes.
        auto* pending = new Holder(std::move(operation));
        GHashTable* attributes = op.attributes();
        switch (op.kind) {
        case Operation::Kind::lookup:
            secret_password_lookupv(schema(), attributes, op.cancellable, &Worker::ready, pending);
            break;
        case Operation::Kind::store:
            secret_password_storev(schema(), attributes, SECRET_COLLECTION_DEFAULT, op.label.c_str(), op.secret.c_str(),
                                   op.cancellable, &Worker::ready, pending);
            break;
        case Operation::Kind::clear:
            secret_password_clearv(schema(), attributes, op.cancellable, &Worker::ready, pending);
            break;
        }
        g_hash_table_unref(attributes);
    }

    static void ready(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Holder> holder(static_cast<Holder*>(data));
        Operation& op = **holder;
        GError* error = nullptr;
        switch (op.kind) {
        case Operation::Kind::lookup: {
            gchar* password = secret_password_lookup_finish(result, &error);
            if (password != nullptr && *password != '\0' && g_utf8_validate(password, -1, nullptr)) {
                op.found = std::string(password);
            }
            secret_password_free(password);
            op.succeeded = error == nullptr;
            break;
        }
        case Operation::Kind::store:
            op.succeeded = secret_password_store_finish(result, &error) != FALSE;
            break;
        case Operation::Kind::clear:
            // FALSE without an error means there was nothing to remove.
            secret_password_clear_finish(result, &error);
            op.succeeded = error == nullptr;
            break;
        }
        g_clear_error(&error);
        {
            std::lock_guard lock(op.mutex);
            op.finished = true;
        }
        op.done.notify_all();
    }

    std::mutex inboxMutex;
    std::deque<Holder> inbox;
    GMainContext* context;
    GMainLoop* loop;
    std::thread thread;
};

LibsecretStore::LibsecretStore(double timeoutSeconds)
    : timeoutSeconds(timeoutSeconds), worker(std::make_unique<Worker>()) {}

LibsecretStore::~LibsecretStore() = default;

bool LibsecretStore::perform(const std::shared_ptr<Operation>& operation) {
    worker->submit(operation);
    {
        std::unique_lock lock(operation->mutex);
        if (operation->done.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                     [&] { return operation->finished; })) {
            return true;
        }
    }
    // The worker completes the cancelled call on its own; the operation outlives this caller.
    g_cancellable_cancel(operation->cancellable);
    return false;
}

std::optional<std::string> LibsecretStore::lookup(const std::string& service, const std::string& account) {
    auto operation = std::make_shared<Operation>(Operation::Kind::lookup, service, account);
    if (!perform(operation)) {
        return std::nullopt;
    }
    return operation->found;
}

bool LibsecretStore::store(const std::string& service, const std::string& account, const std::string& label,
                           const std::string& secret) {
    auto operation = std::make_shared<Operation>(Operation::Kind::store, service, account);
    operation->label = label;
    operation->secret = secret;
    return perform(operation) && operation->succeeded;
}

bool LibsecretStore::clear(const std::string& service, const std::string& account) {
    auto operation = std::make_shared<Operation>(Operation::Kind::clear, service, account);
    return perform(operation) && operation->succeeded;
}

std::shared_ptr<SecretStore> makeSecretStore() {
    return std::make_shared<LibsecretStore>();
}

} // namespace platform::lnx
