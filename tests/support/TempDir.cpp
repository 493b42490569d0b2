#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ruvex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests make folders read-only to provoke failures; give the owner write access back first.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
    }
    std::filesystem::remove_all(root, ignored);
}

namespace {
void setOrUnset(const std::string& name, const std::optional<std::string>& value) {
    value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
}
} // namespace

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name(std::move(name)) {
    if (const char* old = std::getenv(this->name.c_str()))
        previous = old;
    setOrUnset(this->name, value);
}

ScopedEnv::~ScopedEnv() {
    setOrUnset(name, previous);
}

namespace {
std::string madeFolder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    return folder.string();
}
} // namespace

IsolatedHome::IsolatedHome()
    : home("HOME", dir.path().string()), data("XDG_DATA_HOME", madeFolder(dir / "data")),
      config("XDG_CONFIG_HOME", madeFolder(dir / "config")), runtime("XDG_RUNTIME_DIR", madeFolder(dir / "runtime")) {}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void writeFile(const std::filesystem::path& file, const std::string& contents) {
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path());
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
}

} // namespace testsupport
