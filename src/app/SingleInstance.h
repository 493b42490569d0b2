#pragma once

#include <filesystem>

namespace app {

/// Keeps a second copy of the tray application from starting: an exclusive lock on a file in the
/// runtime folder, held for the life of the object and released by the system when the process ends,
/// however it ends.
class SingleInstance {
public:
    /// Tries to take the lock on `file` (its folder is created private when missing). When that
    /// folder belongs to another user or others may write to it, the lock is taken on a file of
    /// the same name in the configuration folder instead, which no other user can hold.
    explicit SingleInstance(const std::filesystem::path& file);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// True when this object holds the lock; false when another process (or object) holds it.
    /// When the lock file cannot be opened at all, the program runs anyway: true.
    bool acquired() const { return held; }

    /// "ruvex-voice.lock" in the runtime folder.
    static std::filesystem::path defaultFile();

private:
    int descriptor = -1;
    bool held = false;
};

} // namespace app
