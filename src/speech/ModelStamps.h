#pragma once

#include "speech/ModelStore.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace speech {

/// The size and modification time of a file on disk.
struct FileStamp {
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;

    /// None when the file cannot be examined.
    static std::optional<FileStamp> of(const std::filesystem::path& file);
};

/// The record of model files found intact: for each name, the stamp the file had when its digest
/// was last checked. A file whose stamp is unchanged since then is trusted without hashing it
/// again. Kept as a small JSON file in the model folder; a missing or damaged record reads as
/// empty, which only costs a new check. Not thread-safe: the store uses it on its own queue.
class ModelStamps {
public:
    /// Loads the record of `directory`.
    explicit ModelStamps(std::filesystem::path directory);

    /// True when `file` was found intact with exactly the stamp it has now.
    bool vouchesFor(const ModelStore::File& file, const FileStamp& now) const;

    /// Notes that `file`, with stamp `stamp`, was found intact.
    void record(const ModelStore::File& file, const FileStamp& stamp);

    /// Drops what is known about the file called `name`.
    void forget(const std::string& name);

    /// Writes the record atomically. False when it could not be written.
    bool save() const;

private:
    struct Entry {
        FileStamp stamp;
        std::string sha256;
    };
    std::filesystem::path file;
    std::map<std::string, Entry> entries;
};

} // namespace speech
