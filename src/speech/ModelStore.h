#pragma once

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "speech/Model.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace speech {

class DownloadLock;

/// Owns the speech model files on disk: knows the four files with their sizes and SHA-256
/// digests, whether they are all present, and downloads the missing ones one after another,
/// verifying each before it is moved into place.
///
/// Threads: construct, call download(), read state() and destroy on the main thread. Transfers,
/// hashing and every other file operation of the store run on its own serial queue
/// ("ruvex.voice.download"); that queue never touches the store's fields, it only posts events
/// to the main queue, so the fields below are read and written on the main thread alone.
/// The main queue must outlive the store. Destroying the store aborts a running transfer.
class ModelStore : public Model {
public:
    /// One model file: its name in the model folder, its size in bytes and the lowercase
    /// hexadecimal SHA-256 of its whole contents.
    struct File {
        std::string name;
        std::int64_t size = 0;
        std::string sha256;
        bool operator==(const File&) const = default;
    };

    /// What the store is doing, as shown by the menu and the first-run window.
    using State = ModelState;

    /// The model's folder name.
    static constexpr std::string_view name = "gigaam-v3-e2e-rnnt-int8-2025-12-16";

    /// The model's file table, in download order.
    static const std::vector<File>& files();

    /// Where the files are fetched from when nothing else is configured: a fixed revision of the
    /// public model repository. A file's address is this followed directly by its name.
    static constexpr std::string_view defaultBaseURL =
        "https://huggingface.co/csukuangfj/sherpa-onnx-nemo-transducer-punct-giga-am-v3-russian-2025-12-16/"
        "resolve/a6039be7cee829a9044a69ac0ebaf1c191217c97/";

    /// $RUVEX_VOICE_MODEL_URL when set and not empty (with a final "/" added when it has none),
    /// else defaultBaseURL.
    static std::string configuredBaseURL();

    /// The application's data folder joined with "models" and the model name.
    static std::filesystem::path defaultDirectory();

    /// Computes the start state (ready when isReady, else missing) without notifying.
    /// The table, the base URL and the folder are parameters so that tests can serve small
    /// files from a local server; the program always uses the defaults.
    explicit ModelStore(core::MainQueue& main, std::vector<File> table = files(),
                        std::string baseURL = configuredBaseURL(), std::filesystem::path folder = defaultDirectory());
    ~ModelStore() override;
    ModelStore(const ModelStore&) = delete;
    ModelStore& operator=(const ModelStore&) = delete;

    /// True when every file of the table is in the folder with exactly its table size. Digests
    /// are not computed; files are examined in table order and the test stops at the first miss.
    bool isReady() const override;

    /// Starts or restarts the download of the files that are absent or of the wrong size; does
    /// nothing while a download runs. Files of the right size are kept. While another process
    /// downloads into the same folder, this one waits (downloading, at the share already on disk)
    /// and then fetches only what is still missing. Main thread.
    void download() override;

    /// Checks the digests of the files in place and removes any whose contents are wrong, so that
    /// a damaged model never reaches the recogniser. A file is hashed only when its size or
    /// modification time differs from what was recorded when it was last found intact (or
    /// downloaded); the record is kept in a small stamp file in the model folder. Returns true when
    /// every file is present and intact. When it is not, the store goes to missing (unless a
    /// download runs), posted to the main queue. Blocks the caller, possibly for seconds and
    /// behind a running transfer: call it off the main thread.
    bool verify() override;

    /// The current state. Main thread.
    const State& state() const override { return current.state; }

    /// The model folder.
    std::filesystem::path directory() const override { return folder; }

    /// The name of the stamp file kept in the model folder.
    static constexpr std::string_view stampFileName = ".verified.json";

private:
    /// Fields changed only on the main thread.
    struct Progress {
        State state;
        std::vector<File> pending;
        std::int64_t doneBytes = 0;
        std::optional<File> file;           ///< the file whose transfer runs
        std::uint64_t task = 0;             ///< tells the events of the running transfer from stale ones
        std::shared_ptr<DownloadLock> lock; ///< held from the start of a download to its end
    };

    void setState(State state);
    void begin(std::uint64_t task, std::shared_ptr<DownloadLock> lock, std::vector<File> pending);
    void next();
    void fail(std::string message);
    void progressed(std::uint64_t task, std::int64_t written);
    void finished(std::uint64_t task, std::optional<std::string> failure);

    const std::filesystem::path folder;
    core::MainQueue& main;
    const std::vector<File> table;
    const std::string baseURL;
    const std::int64_t total;
    Progress current;
    // Read by the main thread's queued closures to drop events that arrive after the store is gone.
    std::shared_ptr<char> alive = std::make_shared<char>();
    // Set by the main thread on destruction, read by the transfer on the queue to stop early.
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    // Declared last so that it is joined first, while everything above still exists.
    core::SerialQueue queue{"ruvex.voice.download"};
};

} // namespace speech
