#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

/// A fresh temporary folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

private:
    std::filesystem::path root;
};

/// Sets or unsets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name;
    std::optional<std::string> previous;
};

/// Points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR into a private temporary
/// folder for the life of the object, and restores the previous values afterwards.
class IsolatedHome {
public:
    IsolatedHome();
    IsolatedHome(const IsolatedHome&) = delete;
    IsolatedHome& operator=(const IsolatedHome&) = delete;

    const std::filesystem::path& path() const { return dir.path(); }
    std::filesystem::path dataHome() const { return dir / "data"; }
    std::filesystem::path configHome() const { return dir / "config"; }

private:
    TempDir dir;
    ScopedEnv home, data, config, runtime;
};

/// Reads a whole file into a string (empty when it cannot be read).
std::string readFile(const std::filesystem::path& file);

/// Writes a whole file, creating its folder.
void writeFile(const std::filesystem::path& file, const std::string& contents);

} // namespace testsupport
