#include "speech/ModelStamps.h"

#include "core/AtomicFile.h"

#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace speech {

std::optional<FileStamp> FileStamp::of(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return FileStamp{static_cast<std::int64_t>(info.st_size),
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

ModelStamps::ModelStamps(std::filesystem::path directory) : file(directory / ModelStore::stampFileName) {
    // A handful of entries; a pipe or a huge file in its place reads as no record.
    std::string text;
    if (core::readRegularFile(file, text, 1 << 20)) {
        return;
    }
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) {
        return;
    }
    for (const auto& [name, value] : json.items()) {
        if (!value.is_object()) {
            continue;
        }
        auto size = value.find("size");
        auto mtime = value.find("mtimeNs");
        auto digest = value.find("sha256");
        if (size == value.end() || !size->is_number_integer() || mtime == value.end() || !mtime->is_number_integer() ||
            digest == value.end() || !digest->is_string()) {
            continue;
        }
        entries[name] = {{size->get<std::int64_t>(), mtime->get<std::int64_t>()}, digest->get<std::string>()};
    }
}

bool ModelStamps::vouchesFor(const ModelStore::File& model, const FileStamp& now) const {
    auto found = entries.find(model.name);
    return found != entries.end() && found->second.stamp == now && now.size == model.size &&
           found->second.sha256 == model.sha256;
}

void ModelStamps::record(const ModelStore::File& model, const FileStamp& stamp) {
    entries[model.name] = {stamp, model.sha256};
}

void ModelStamps::forget(const std::string& name) {
    entries.erase(name);
}

bool ModelStamps::save() const {
    auto json = nlohmann::json::object();
    for (const auto& [name, entry] : entries) {
        json[name] = {{"size", entry.stamp.size}, {"mtimeNs", entry.stamp.mtimeNs}, {"sha256", entry.sha256}};
    }
    return core::writeAtomically(file, json.dump(2) + "\n");
}

} // namespace speech
