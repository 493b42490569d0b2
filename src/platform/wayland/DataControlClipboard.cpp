#include "platform/wayland/DataControlClipboard.h"

#include "ext-data-control-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"

#include <wayland-client.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <map>
#include <set>

namespace platform::wayland {

namespace {

std::size_t indexOf(Selection selection) {
    return selection == Selection::clipboard ? 0 : 1;
}

using Contents = std::shared_ptr<const ClipboardContents>;

// The two protocols have the same requests and events in the same order; these name each one's.
struct Ext {
    using Manager = ext_data_control_manager_v1;
    using Device = ext_data_control_device_v1;
    using Source = ext_data_control_source_v1;
    using Offer = ext_data_control_offer_v1;
    using DeviceListener = ext_data_control_device_v1_listener;
    using SourceListener = ext_data_control_source_v1_listener;
    using OfferListener = ext_data_control_offer_v1_listener;
    static constexpr const char* name = "ext-data-control";
    static const wl_interface* manager() { return &ext_data_control_manager_v1_interface; }
    static constexpr std::uint32_t version = 1;
    static bool hasPrimary(std::uint32_t) { return true; }
    static Device* device(Manager* m, wl_seat* seat) { return ext_data_control_manager_v1_get_data_device(m, seat); }
    static Source* source(Manager* m) { return ext_data_control_manager_v1_create_data_source(m); }
    static void destroy(Manager* m) { ext_data_control_manager_v1_destroy(m); }
    static void destroy(Device* d) { ext_data_control_device_v1_destroy(d); }
    static void destroy(Source* s) { ext_data_control_source_v1_destroy(s); }
    static void destroy(Offer* o) { ext_data_control_offer_v1_destroy(o); }
    static void listen(Device* d, const DeviceListener* l, void* data) {
        ext_data_control_device_v1_add_listener(d, l, data);
    }
    static void listen(Source* s, const SourceListener* l, void* data) {
        ext_data_control_source_v1_add_listener(s, l, data);
    }
    static void listen(Offer* o, const OfferListener* l, void* data) {
        ext_data_control_offer_v1_add_listener(o, l, data);
    }
    static void offer(Source* s, const char* type) { ext_data_control_source_v1_offer(s, type); }
    static void receive(Offer* o, const char* type, int fd) { ext_data_control_offer_v1_receive(o, type, fd); }
    static void setSelection(Device* d, Source* s) { ext_data_control_device_v1_set_selection(d, s); }
    static void setPrimary(Device* d, Source* s) { ext_data_control_device_v1_set_primary_selection(d, s); }
};

struct Wlr {
    using Manager = zwlr_data_control_manager_v1;
    using Device = zwlr_data_control_device_v1;
    using Source = zwlr_data_control_source_v1;
    using Offer = zwlr_data_control_offer_v1;
    using DeviceListener = zwlr_data_control_device_v1_listener;
    using SourceListener = zwlr_data_control_source_v1_listener;
    using OfferListener = zwlr_data_control_offer_v1_listener;
    static constexpr const char* name = "wlr-data-control";
    static const wl_interface* manager() { return &zwlr_data_control_manager_v1_interface; }
    // The primary selection came with version 2.
    static constexpr std::uint32_t version = 2;
    static bool hasPrimary(std::uint32_t bound) { return bound >= 2; }
    static Device* device(Manager* m, wl_seat* seat) { return zwlr_data_control_manager_v1_get_data_device(m, seat); }
    static Source* source(Manager* m) { return zwlr_data_control_manager_v1_create_data_source(m); }
    static void destroy(Manager* m) { zwlr_data_control_manager_v1_destroy(m); }
    static void destroy(Device* d) { zwlr_data_control_device_v1_destroy(d); }
    static void destroy(Source* s) { zwlr_data_control_source_v1_destroy(s); }
    static void destroy(Offer* o) { zwlr_data_control_offer_v1_destroy(o); }
    static void listen(Device* d, const DeviceListener* l, void* data) {
        zwlr_data_control_device_v1_add_listener(d, l, data);
    }
    static void listen(Source* s, const SourceListener* l, void* data) {
        zwlr_data_control_source_v1_add_listener(s, l, data);
    }
    static void listen(Offer* o, const OfferListener* l, void* data) {
        zwlr_data_control_offer_v1_add_listener(o, l, data);
    }
    static void offer(Source* s, const char* type) { zwlr_data_control_source_v1_offer(s, type); }
    static void receive(Offer* o, const char* type, int fd) { zwlr_data_control_offer_v1_receive(o, type, fd); }
    static void setSelection(Device* d, Source* s) { zwlr_data_control_device_v1_set_selection(d, s); }
    static void setPrimary(Device* d, Source* s) { zwlr_data_control_device_v1_set_primary_selection(d, s); }
};

// Writer thread: a reader that went away must not end the program with SIGPIPE. The signal is
// blocked on this thread only, and one raised by a failed write is taken back.
void writeAll(int fd, const std::string& bytes) {
    static thread_local const bool blocked = [] {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        return pthread_sigmask(SIG_BLOCK, &pipe, nullptr) == 0;
    }();
    if (!blocked) {
        close(fd);
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) {
            done += static_cast<std::size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0 && errno == EAGAIN) {
            // A reader that takes nothing for this long has hung: it gets what it had.
            pollfd out = {fd, POLLOUT, 0};
            if (poll(&out, 1, static_cast<int>(DataControlClipboard::stallSeconds * 4000)) > 0) {
                continue;
            }
        }
        if (wrote < 0 && errno == EPIPE) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec now = {0, 0};
            sigtimedwait(&pipe, nullptr, &now);
        }
        break;
    }
    close(fd);
}

} // namespace

// One data-control device on the seat, of either protocol. Main thread.
class DataControlClipboard::Device {
public:
    virtual ~Device() = default;
    virtual const char* protocol() const = 0;
    /// The types the selection's owner offers now; nothing when the selection is empty.
    virtual std::optional<std::vector<std::string>> offered(Selection selection) const = 0;
    /// Asks the owner to write `type` into `fd` (the request carries a copy of the descriptor).
    virtual void receive(Selection selection, const std::string& type, int fd) = 0;
    /// Makes `contents` the selection; null clears it. False when this selection cannot be set.
    virtual bool set(Selection selection, Contents contents) = 0;
    /// What the program's source for the selection offers while nobody has replaced it.
    virtual Contents owned(Selection selection) const = 0;
};

namespace {

template <typename P> class ProtocolDevice final : public DataControlClipboard::Device {
public:
    ProtocolDevice(WaylandConnection& connection, core::SerialQueue& writer, typename P::Manager* manager,
                   std::uint32_t version, wl_seat* seat)
        : connection(connection), writer(writer), manager(manager), primary(P::hasPrimary(version)), seat(seat) {
        device = P::device(manager, seat);
        P::listen(device, &deviceListener, this);
    }

    ~ProtocolDevice() override {
        for (auto& [offer, types] : offers) {
            P::destroy(offer);
        }
        for (auto& source : sources) {
            if (source) {
                P::destroy(source->proxy);
            }
        }
        for (auto& source : retired) {
            P::destroy(source->proxy);
        }
        if (device != nullptr) {
            P::destroy(device);
        }
        P::destroy(manager);
        wl_seat_destroy(seat);
    }

    const char* protocol() const override { return P::name; }

    std::optional<std::vector<std::string>> offered(Selection selection) const override {
        auto* offer = current[indexOf(selection)];
        if (offer == nullptr) {
            return std::nullopt;
        }
        return offers.at(offer);
    }

    void receive(Selection selection, const std::string& type, int fd) override {
        if (auto* offer = current[indexOf(selection)]) {
            P::receive(offer, type.c_str(), fd);
        }
    }

    bool set(Selection selection, Contents contents) override {
        if (device == nullptr || (selection == Selection::primary && !primary)) {
            return false;
        }
        typename P::Source* proxy = nullptr;
        if (contents) {
            proxy = P::source(manager);
            std::set<std::string> seen;
            for (const auto& format : *contents) {
                if (seen.insert(format.type).second) {
                    P::offer(proxy, format.type.c_str());
                }
            }
        }
        auto& slot = sources[indexOf(selection)];
        // The source it replaces is cancelled by the compositor, and dropped then.
        if (slot) {
            retired.push_back(std::move(slot));
        }
        if (proxy != nullptr) {
            slot = std::make_unique<Source>(Source{this, proxy, std::move(contents)});
            P::listen(proxy, &sourceListener, slot.get());
        }
        if (selection == Selection::clipboard) {
            P::setSelection(device, proxy);
        } else {
            P::setPrimary(device, proxy);
        }
        connection.flush();
        return true;
    }

    Contents owned(Selection selection) const override {
        const auto& slot = sources[indexOf(selection)];
        return slot ? slot->contents : nullptr;
    }

private:
    struct Source {
        ProtocolDevice* device;
        typename P::Source* proxy;
        Contents contents;
    };

    static void onDataOffer(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<ProtocolDevice*>(data);
        self->offers[offer] = {};
        P::listen(offer, &offerListener, &self->offers[offer]);
    }

    void select(Selection selection, typename P::Offer* offer) {
        current[indexOf(selection)] = offer;
        // Offers that neither selection holds any more will never be read.
        for (auto it = offers.begin(); it != offers.end();) {
            if (it->first != current[0] && it->first != current[1]) {
                P::destroy(it->first);
                it = offers.erase(it);
            } else {
                ++it;
            }
        }
    }

    static void onSelection(void* data, typename P::Device*, typename P::Offer* offer) {
        static_cast<ProtocolDevice*>(data)->select(Selection::clipboard, offer);
    }

    static void onPrimary(void* data, typename P::Device*, typename P::Offer* offer) {
        static_cast<ProtocolDevice*>(data)->select(Selection::primary, offer);
    }

    // The seat went away: this device is of no more use.
    static void onFinished(void* data, typename P::Device*) {
        auto* self = static_cast<ProtocolDevice*>(data);
        P::destroy(self->device);
        self->device = nullptr;
    }

    static void onType(void* data, typename P::Offer*, const char* type) {
        static_cast<std::vector<std::string>*>(data)->push_back(type);
    }

    static void onSend(void* data, typename P::Source*, const char* type, int fd) {
        auto* source = static_cast<Source*>(data);
        const ClipboardContents& contents = *source->contents;
        auto format = std::find_if(contents.begin(), contents.end(),
                                   [&](const ClipboardFormat& candidate) { return candidate.type == type; });
        if (format == contents.end()) {
            close(fd);
            return;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        // The bytes stay alive with the job, whatever becomes of the source.
        source->device->writer.post([fd, keep = source->contents, format = &*format] { writeAll(fd, format->data); });
    }

    static void onCancelled(void* data, typename P::Source*) {
        auto* source = static_cast<Source*>(data);
        source->device->drop(source);
    }

    void drop(Source* source) {
        P::destroy(source->proxy);
        for (auto& slot : sources) {
            if (slot.get() == source) {
                slot.reset();
                return;
            }
        }
        std::erase_if(retired, [source](const std::unique_ptr<Source>& old) { return old.get() == source; });
    }

    static constexpr typename P::DeviceListener deviceListener = {onDataOffer, onSelection, onFinished, onPrimary};
    static constexpr typename P::SourceListener sourceListener = {onSend, onCancelled};
    static constexpr typename P::OfferListener offerListener = {onType};

    WaylandConnection& connection;
    core::SerialQueue& writer;
    typename P::Manager* manager;
    const bool primary;
    wl_seat* seat;
    typename P::Device* device = nullptr;
    std::map<typename P::Offer*, std::vector<std::string>> offers;
    std::array<typename P::Offer*, 2> current = {nullptr, nullptr};
    std::array<std::unique_ptr<Source>, 2> sources;
    std::vector<std::unique_ptr<Source>> retired;
};

template <typename P>
std::unique_ptr<DataControlClipboard::Device> makeDevice(WaylandConnection& connection, core::SerialQueue& writer) {
    auto global = connection.find(P::manager()->name);
    if (!global) {
        return nullptr;
    }
    auto* seat = static_cast<wl_seat*>(connection.bind(&wl_seat_interface, 1));
    if (seat == nullptr) {
        return nullptr;
    }
    const std::uint32_t version = std::min(global->version, P::version);
    auto* manager = static_cast<typename P::Manager*>(connection.bind(P::manager(), version));
    return std::make_unique<ProtocolDevice<P>>(connection, writer, manager, version, seat);
}

double seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

DataControlClipboard::DataControlClipboard(core::MainQueue& main) : connection(main) {
    if (!connection) {
        return;
    }
    device = makeDevice<Ext>(connection, writer);
    if (!device) {
        device = makeDevice<Wlr>(connection, writer);
    }
    // The current selections arrive right after the device is made.
    connection.roundtrip();
}

DataControlClipboard::~DataControlClipboard() {
    device.reset();
    connection.flush();
}

bool DataControlClipboard::usable() const {
    return device != nullptr && static_cast<bool>(connection);
}

std::string DataControlClipboard::protocol() const {
    return device ? device->protocol() : "";
}

ClipboardContents DataControlClipboard::textContents(const std::string& text) {
    ClipboardContents contents;
    // Not X11's STRING or TEXT: those promise Latin-1 or a negotiated encoding, and XWayland
    // translates its clients' requests to the UTF-8 type itself.
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"}) {
        contents.push_back({type, text});
    }
    contents.push_back({secretHintType, "secret"});
    return contents;
}

ClipboardContents DataControlClipboard::save(Selection selection) {
    if (localContents) {
        if (auto local = localContents(selection)) {
            return *local;
        }
    }
    // Whatever changed since the last events were run (a copy, our source cancelled) counts.
    if (!usable() || !connection.roundtrip()) {
        return {};
    }
    // Our own selection is answered from memory: the main thread could not serve it while it waits.
    if (auto own = device->owned(selection)) {
        return *own;
    }
    auto types = device->offered(selection);
    if (!types) {
        return {};
    }

    struct Transfer {
        std::string type;
        int fd;
        std::string data;
        bool complete = false;
    };
    std::vector<Transfer> transfers;
    std::set<std::string> seen;
    for (const auto& type : *types) {
        int ends[2];
        if (!seen.insert(type).second || pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            continue;
        }
        device->receive(selection, type, ends[1]);
        close(ends[1]);
        transfers.push_back({type, ends[0], {}});
    }
    connection.flush();

    const double start = seconds();
    double lastProgress = start;
    std::vector<pollfd> waiting;
    for (;;) {
        waiting.clear();
        for (const auto& transfer : transfers) {
            if (transfer.fd >= 0) {
                waiting.push_back({transfer.fd, POLLIN, 0});
            }
        }
        const double now = seconds();
        const double until = std::min(lastProgress + stallSeconds, start + saveSeconds);
        if (waiting.empty() || now >= until) {
            break;
        }
        const int ready = poll(waiting.data(), waiting.size(), static_cast<int>((until - now) * 1000) + 1);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (const auto& polled : waiting) {
            if (polled.revents == 0) {
                continue;
            }
            auto& transfer = *std::find_if(transfers.begin(), transfers.end(),
                                           [&](const Transfer& candidate) { return candidate.fd == polled.fd; });
            char buffer[65536];
            ssize_t got = read(transfer.fd, buffer, sizeof buffer);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            lastProgress = seconds();
            if (got > 0 && transfer.data.size() + static_cast<std::size_t>(got) <= maximumTypeBytes) {
                transfer.data.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            // The end of the data, an error, or more than can be kept.
            transfer.complete = got == 0;
            close(transfer.fd);
            transfer.fd = -1;
        }
    }

    ClipboardContents contents;
    for (auto& transfer : transfers) {
        if (transfer.fd >= 0) {
            close(transfer.fd);
        } else if (transfer.complete) {
            contents.push_back({std::move(transfer.type), std::move(transfer.data)});
        }
    }
    return contents;
}

void DataControlClipboard::set(Selection selection, ClipboardContents contents) {
    ++writes[indexOf(selection)];
    if (usable()) {
        device->set(selection,
                    contents.empty() ? nullptr : std::make_shared<const ClipboardContents>(std::move(contents)));
    }
}

void DataControlClipboard::writeText(Selection selection, const std::string& text) {
    set(selection, textContents(text));
}

void DataControlClipboard::restore(Selection selection, const ClipboardContents& contents) {
    set(selection, contents);
}

bool DataControlClipboard::ownsSelection(Selection selection) {
    // A cancellation on its way counts: run what the compositor has sent so far.
    return usable() && connection.roundtrip() && device->owned(selection) != nullptr;
}

std::uint64_t DataControlClipboard::generation(Selection selection) const {
    return writes[indexOf(selection)];
}

} // namespace platform::wayland
