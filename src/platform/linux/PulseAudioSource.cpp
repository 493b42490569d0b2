#include "platform/linux/PulseAudioSource.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace platform::lnx {
namespace {

// How long the server may take to answer any one step (connect, query, stream start).
constexpr pa_usec_t answerTimeout = 3 * PA_USEC_PER_SEC;
// 20 ms of float samples at 16 kHz: small blocks keep the level meter and the pause cutter lively.
constexpr std::uint32_t fragmentBytes = 320 * sizeof(float);

// A client connection on its own threaded main loop. Callers hold the loop's lock (Lock) while
// they touch the context or its streams; the loop thread runs the callbacks with it held.
class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ~Connection() {
        if (loop == nullptr)
            return;
        if (context != nullptr) {
            pa_threaded_mainloop_lock(loop);
            pa_context_disconnect(context);
            pa_context_unref(context);
            pa_threaded_mainloop_unlock(loop);
        }
        // Stopping joins the loop thread, which needs the lock: never hold it here.
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    class Lock {
    public:
        explicit Lock(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
        ~Lock() { pa_threaded_mainloop_unlock(loop); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop;
    };

    /// Connects to the server named by the environment or the client configuration. False when
    /// none answers in time.
    bool open() {
        loop = pa_threaded_mainloop_new();
        if (loop == nullptr)
            return false;
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Ruvex Voice");
        if (context == nullptr)
            return false;
        pa_context_set_state_callback(context, &Connection::signal, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (pa_threaded_mainloop_start(loop) < 0)
            return false;
        Lock lock(loop);
        return waitUntil([this] {
                   const pa_context_state_t state = pa_context_get_state(context);
                   return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
               }) &&
               pa_context_get_state(context) == PA_CONTEXT_READY;
    }

    /// Waits (lock held) until `done` is true, the connection breaks, or the server has not
    /// answered within the timeout. True only when `done` became true.
    bool waitUntil(const std::function<bool()>& done) {
        bool late = false;
        Deadline deadline{this, &late};
        pa_time_event* timer =
            pa_context_rttime_new(context, pa_rtclock_now() + answerTimeout, &Connection::expire, &deadline);
        while (!done() && !late && PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            pa_threaded_mainloop_wait(loop);
        }
        if (timer != nullptr)
            pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return done();
    }

    /// Runs one server query (lock held) and waits for its reply. False on no reply in time.
    bool query(pa_operation* operation, const bool& replied) {
        if (operation == nullptr)
            return false;
        const bool ok = waitUntil([&] { return replied; });
        if (!ok)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return ok;
    }

    /// Wakes a waitUntil; usable as any libpulse callback's user data target.
    void wake() { pa_threaded_mainloop_signal(loop, 0); }

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;

private:
    struct Deadline {
        Connection* connection;
        bool* late;
    };
    static void signal(pa_context*, void* self) { static_cast<Connection*>(self)->wake(); }
    static void expire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
        auto* deadline = static_cast<Deadline*>(data);
        *deadline->late = true;
        deadline->connection->wake();
    }
};

// The server's default source name, when the server has one.
std::optional<std::string> defaultSourceName(Connection& connection) {
    struct Reply {
        Connection* connection = nullptr;
        bool replied = false;
        std::optional<std::string> name;
    } reply;
    reply.connection = &connection;
    auto callback = [](pa_context*, const pa_server_info* info, void* data) {
        auto* r = static_cast<Reply*>(data);
        if (info != nullptr && info->default_source_name != nullptr && *info->default_source_name != '\0') {
            r->name = info->default_source_name;
        }
        r->replied = true;
        r->connection->wake();
    };
    if (!connection.query(pa_context_get_server_info(connection.context, callback, &reply), reply.replied)) {
        return std::nullopt;
    }
    return reply.name;
}

} // namespace

struct PulseAudioSource::Session {
    Connection connection;
    pa_stream* stream = nullptr;
    AudioSource* owner = nullptr;
    // Set once the stream is ready, under the loop's lock: a later failure is a loss, not a failed start.
    bool capturing = false;

    ~Session() {
        if (stream == nullptr)
            return;
        Connection::Lock lock(connection.loop);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }

    bool open();

    // Hands every block the stream holds to onSamples. Runs with the loop's lock held: on the
    // loop thread from the read callback, or on the stopping thread before the stream goes.
    void drain() {
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            // A null block with a size is a hole in the stream: nothing to copy.
            if (data != nullptr && bytes >= sizeof(float) && owner->onSamples) {
                std::vector<float> block(bytes / sizeof(float));
                std::memcpy(block.data(), data, block.size() * sizeof(float));
                owner->onSamples(std::move(block));
            }
            pa_stream_drop(stream);
        }
    }

    static void readable(pa_stream*, std::size_t, void* self) { static_cast<Session*>(self)->drain(); }
    static void stateChanged(pa_stream* stream, void* self) {
        auto* session = static_cast<Session*>(self);
        session->connection.wake();
        // A killed server fails the context and with it the stream; a removed source kills the stream.
        if (session->capturing && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            session->capturing = false;
            if (session->owner->onLost)
                session->owner->onLost();
        }
    }
};

bool PulseAudioSource::Session::open() {
    if (!connection.open())
        return false;
    Connection::Lock lock(connection.loop);
    // The stream would fall back to any source; without a default one there is no microphone.
    if (!defaultSourceName(connection))
        return false;

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(sampleRate), 1};
    stream = pa_stream_new(connection.context, "Ruvex Voice", &spec, nullptr);
    if (stream == nullptr)
        return false;
    pa_stream_set_state_callback(stream, &Session::stateChanged, this);
    pa_stream_set_read_callback(stream, &Session::readable, this);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = fragmentBytes;
    // Adjusting the source's latency to the fragment size gets the first block out sooner.
    if (pa_stream_connect_record(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
        return false;
    capturing = connection.waitUntil([this] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    }) && pa_stream_get_state(stream) == PA_STREAM_READY;
    return capturing;
}

PulseAudioSource::PulseAudioSource() = default;

PulseAudioSource::~PulseAudioSource() {
    stop();
}

bool PulseAudioSource::start() {
    if (session)
        return true;
    auto opened = std::make_unique<Session>();
    opened->owner = this;
    if (!opened->open())
        return false;
    session = std::move(opened);
    return true;
}

void PulseAudioSource::stop() {
    if (!session)
        return;
    {
        Connection::Lock lock(session->connection.loop);
        // With the lock held no read callback runs: take what has arrived, then stop reading.
        session->drain();
        pa_stream_set_read_callback(session->stream, nullptr, nullptr);
    }
    session.reset();
}

MicrophoneState PulseAudioSource::microphoneState() {
    Connection connection;
    if (!connection.open())
        return MicrophoneState::noServer;
    Connection::Lock lock(connection.loop);
    const auto name = defaultSourceName(connection);
    if (!name)
        return MicrophoneState::noSource;

    struct Reply {
        Connection* connection = nullptr;
        bool replied = false;
        bool found = false;
        bool monitor = false;
        bool muted = false;
    } reply;
    reply.connection = &connection;
    auto callback = [](pa_context*, const pa_source_info* info, int eol, void* data) {
        auto* r = static_cast<Reply*>(data);
        if (info != nullptr) {
            r->found = true;
            r->monitor = info->monitor_of_sink != PA_INVALID_INDEX;
            r->muted = info->mute != 0;
        }
        if (eol != 0) {
            r->replied = true;
            r->connection->wake();
        }
    };
    pa_operation* operation = pa_context_get_source_info_by_name(connection.context, name->c_str(), callback, &reply);
    if (!connection.query(operation, reply.replied))
        return MicrophoneState::noServer;
    if (!reply.found)
        return MicrophoneState::noSource;
    if (reply.monitor)
        return MicrophoneState::monitor;
    if (reply.muted)
        return MicrophoneState::muted;
    return MicrophoneState::available;
}

} // namespace platform::lnx
