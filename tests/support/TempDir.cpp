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

IsolatedHome::IsolatedHome()
    : saved{{"HOME", false, {}},
            {"XDG_DATA_HOME", false, {}},
            {"XDG_CONFIG_HOME", false, {}},
            {"XDG_RUNTIME_DIR", false, {}}} {
    for (auto& entry : saved) {
        if (const char* value = std::getenv(entry.name.c_str())) {
            entry.set = true;
            entry.value = value;
        }
    }
    std::filesystem::create_directories(dir / "data");
    std::filesystem::create_directories(dir / "config");
    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
    setenv("HOME", dir.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
}

IsolatedHome::~IsolatedHome() {
    for (auto& entry : saved) {
        if (entry.set) {
            setenv(entry.name.c_str(), entry.value.c_str(), 1);
        } else {
            unsetenv(entry.name.c_str());
        }
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
