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

IsolatedHome::IsolatedHome() {
    const char* names[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};
    const char* folders[] = {"", "data", "config", "runtime"}; // HOME is the folder itself
    for (int i = 0; i < 4; ++i) {
        const char* value = std::getenv(names[i]);
        saved[i] = {names[i], value != nullptr, value ? value : ""};
        const auto folder = i == 0 ? dir.path() : dir / folders[i];
        std::filesystem::create_directories(folder);
        setenv(names[i], folder.c_str(), 1);
    }
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
}

IsolatedHome::~IsolatedHome() {
    for (auto& entry : saved) {
        entry.set ? setenv(entry.name.c_str(), entry.value.c_str(), 1) : unsetenv(entry.name.c_str());
    }
}

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
