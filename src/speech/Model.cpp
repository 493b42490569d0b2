#include "speech/Model.h"

#include "speech/Engine.h"
#include "speech/ModelStore.h"

#include <cstdlib>
#include <utility>

namespace speech {

bool ModelState::operator==(const ModelState& other) const {
    if (kind != other.kind)
        return false;
    switch (kind) {
    case Kind::downloading:
        return fraction == other.fraction;
    case Kind::failed:
        return message == other.message;
    default:
        return true;
    }
}

std::shared_ptr<Recognizer> Model::load(const std::optional<std::filesystem::path>& terms) {
    // A damaged model never reaches the recogniser, which would end the process on some of them.
    if (!verify())
        throw Engine::Failure(Engine::Failure::load);
    return std::make_shared<Engine>(directory(), terms);
}

ModelFolder::ModelFolder(std::filesystem::path folder, std::vector<std::string> files)
    : folder(std::move(folder)), files(std::move(files)) {
    current = isReady() ? ModelState::ready() : ModelState::missing();
}

bool ModelFolder::isReady() const {
    for (const auto& name : files) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(folder / name, error))
            return false;
    }
    return true;
}

void ModelFolder::download() {
    current = isReady() ? ModelState::ready() : ModelState::failed("в папке " + folder.string() + " нет файлов модели");
    if (onChange)
        onChange(current);
}

std::unique_ptr<Model> makeModel(core::MainQueue& main) {
    if (const char* folder = std::getenv(ModelFolder::variable); folder && *folder) {
        std::vector<std::string> names;
        for (const auto& file : ModelStore::files())
            names.push_back(file.name);
        return std::make_unique<ModelFolder>(folder, std::move(names));
    }
    return std::make_unique<ModelStore>(main);
}

} // namespace speech
