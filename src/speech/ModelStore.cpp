#include "speech/ModelStore.h"

#include "core/Paths.h"
#include "speech/ModelFetch.h"
#include "speech/ModelStamps.h"
#include "speech/Sha256.h"

#include <sys/stat.h>

#include <cstdlib>
#include <numeric>

namespace speech {

const std::vector<ModelStore::File>& ModelStore::files() {
    static const std::vector<File> table = {
        {"tokens.txt", 13354, "39abae20e692998290c574e606f11a9edef2902a1995463fcff63d1490cf22b7"},
        {"joiner.onnx", 2712896, "602ff7017a93311aad34df1437c8d7f49911353c13d6eae7a6ee7b041339465c"},
        {"decoder.onnx", 4600132, "38fc7475443ea2a26f63211ca350f73ac50fff824ab7a3876ee2bd610c53bbc4"},
        {"encoder.int8.onnx", 224570820, "369f35a71bf288d3b8e0391fabd8dba5f2314088d440bca474056b7b4b6e66bf"},
    };
    return table;
}

std::string ModelStore::configuredBaseURL() {
    const char* value = std::getenv("RUVEX_VOICE_MODEL_URL");
    if (value == nullptr || value[0] == '\0') {
        return std::string(defaultBaseURL);
    }
    std::string url = value;
    if (url.back() != '/') {
        url += '/';
    }
    return url;
}

std::filesystem::path ModelStore::defaultDirectory() {
    return core::paths::applicationSupport() / "models" / std::string(name);
}

ModelStore::ModelStore(core::MainQueue& main, std::vector<File> table, std::string baseURL,
                       std::filesystem::path folder)
    : folder(std::move(folder)), main(main), table(std::move(table)), baseURL(std::move(baseURL)),
      total(std::accumulate(this->table.begin(), this->table.end(), std::int64_t{0},
                            [](std::int64_t sum, const File& file) { return sum + file.size; })) {
    current.state = isReady() ? State::ready() : State::missing();
}

ModelStore::~ModelStore() {
    cancelled->store(true);
    // The queue member, declared last, is joined first: a running transfer sees the flag and stops.
}

namespace {

/// The size of `file`, or -1 when it is absent or not a regular file.
std::int64_t sizeOf(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    return static_cast<std::int64_t>(info.st_size);
}

/// The files of `table` that are absent from `directory` or of the wrong size, in table order.
std::vector<ModelStore::File> missingFiles(const std::filesystem::path& directory,
                                           const std::vector<ModelStore::File>& table) {
    std::vector<ModelStore::File> missing;
    for (const auto& file : table) {
        if (sizeOf(directory / file.name) != file.size) {
            missing.push_back(file);
        }
    }
    return missing;
}

std::int64_t pendingBytes(const std::vector<ModelStore::File>& files) {
    return std::accumulate(files.begin(), files.end(), std::int64_t{0},
                           [](std::int64_t sum, const ModelStore::File& file) { return sum + file.size; });
}

/// Removes partial files that transfers cut short by a crash or an interrupted command left behind;
/// up to 224 MB each, they would pile up unseen. Only while holding the download lock: a partial
/// file is then never one that a running download still writes.
void removeLeftovers(const std::filesystem::path& directory, const std::vector<ModelStore::File>& table) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        auto entry = it->path().filename().string();
        for (const auto& file : table) {
            if (entry.starts_with(partialFilePrefix(file.name))) {
                std::error_code ignored;
                std::filesystem::remove(it->path(), ignored);
                break;
            }
        }
    }
}

} // namespace

bool ModelStore::isReady() const {
    for (const auto& file : table) {
        if (sizeOf(folder / file.name) != file.size) {
            return false;
        }
    }
    return true;
}

void ModelStore::setState(State state) {
    current.state = state;
    main.post([this, weak = std::weak_ptr<char>(alive), state = std::move(state)] {
        if (weak.expired() || !onChange) {
            return;
        }
        onChange(state);
    });
}

void ModelStore::download() {
    if (current.state.kind == State::Kind::downloading) {
        return;
    }
    if (isReady()) {
        setState(State::ready());
        return;
    }
    // An error is left to the transfer, which then fails with a message the user can read.
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    current.pending.clear();
    current.doneBytes = total - pendingBytes(missingFiles(folder, table));
    setState(State::downloading(static_cast<double>(current.doneBytes) / static_cast<double>(total)));
    std::uint64_t task = ++current.task;
    // Another process may be downloading into the folder: wait for it on the queue, then see what
    // is still missing, since it may have fetched some of the files meanwhile.
    queue.post([this, task, &main = main, folder = folder, table = table, weak = std::weak_ptr<char>(alive),
                cancelled = cancelled] {
        std::shared_ptr<DownloadLock> lock = DownloadLock::acquire(folder, *cancelled);
        if (!lock) {
            return;
        }
        removeLeftovers(folder, table);
        main.post([this, weak, task, lock, pending = missingFiles(folder, table)]() mutable {
            if (!weak.expired()) {
                begin(task, std::move(lock), std::move(pending));
            }
        });
    });
}

void ModelStore::begin(std::uint64_t task, std::shared_ptr<DownloadLock> lock, std::vector<File> pending) {
    if (task != current.task) {
        return;
    }
    current.lock = std::move(lock);
    std::int64_t done = total - pendingBytes(pending);
    current.pending = std::move(pending);
    if (done != current.doneBytes) {
        current.doneBytes = done;
        setState(State::downloading(static_cast<double>(done) / static_cast<double>(total)));
    }
    next();
}

void ModelStore::next() {
    if (current.pending.empty()) {
        current.file.reset();
        current.lock.reset();
        setState(State::ready());
        return;
    }
    File file = current.pending.front();
    current.pending.erase(current.pending.begin());
    current.file = file;
    std::uint64_t task = ++current.task;
    FetchRequest request{baseURL + file.name, folder, file};
    queue.post([request = std::move(request), task, &main = main, weak = std::weak_ptr<char>(alive),
                cancelled = cancelled, this] {
        // Runs on the store's queue: it reads nothing of the store and reaches it only through
        // closures posted to the main queue, which check that the store still exists.
        auto progress = [&](std::int64_t written) {
            main.post([this, weak, task, written] {
                if (!weak.expired()) {
                    progressed(task, written);
                }
            });
        };
        auto failure = fetchModelFile(request, progress, *cancelled);
        main.post([this, weak, task, failure = std::move(failure)] {
            if (!weak.expired()) {
                finished(task, failure);
            }
        });
    });
}

void ModelStore::progressed(std::uint64_t task, std::int64_t written) {
    if (task != current.task || !current.file) {
        return;
    }
    setState(State::downloading(static_cast<double>(current.doneBytes + written) / static_cast<double>(total)));
}

void ModelStore::finished(std::uint64_t task, std::optional<std::string> failure) {
    if (task != current.task || !current.file) {
        return;
    }
    if (failure) {
        fail(std::move(*failure));
        return;
    }
    current.doneBytes += current.file->size;
    next();
}

void ModelStore::fail(std::string message) {
    current.pending.clear();
    current.file.reset();
    current.lock.reset();
    setState(State::failed(std::move(message)));
}

bool ModelStore::verify() {
    bool intact = true;
    queue.sync([&] {
        ModelStamps stamps(folder);
        bool changed = false;
        for (const auto& file : table) {
            auto path = folder / file.name;
            auto before = FileStamp::of(path);
            if (!before || before->size != file.size) {
                // Absent or of the wrong size: the next download fetches it anyway.
                intact = false;
                continue;
            }
            if (stamps.vouchesFor(file, *before)) {
                continue;
            }
            auto digest = sha256(path);
            changed = true;
            if (digest && *digest == file.sha256) {
                // The stamp taken before hashing: a change made while hashing shows up next time.
                stamps.record(file, *before);
            } else {
                std::error_code ignored;
                std::filesystem::remove(path, ignored);
                stamps.forget(file.name);
                intact = false;
            }
        }
        if (changed) {
            stamps.save();
        }
    });
    if (!intact) {
        main.post([this, weak = std::weak_ptr<char>(alive)] {
            if (weak.expired()) {
                return;
            }
            auto kind = current.state.kind;
            if (kind != State::Kind::downloading && kind != State::Kind::missing) {
                setState(State::missing());
            }
        });
    }
    return intact;
}

} // namespace speech
