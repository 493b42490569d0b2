#include "app/ModelFolder.h"

#include <utility>

namespace app {

ModelFolder::ModelFolder(std::filesystem::path folder, std::vector<std::string> files)
    : folder(std::move(folder)), files(std::move(files)) {
    current.kind = isReady() ? ModelStatus::Kind::ready : ModelStatus::Kind::missing;
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
    ModelStatus next;
    if (isReady()) {
        next.kind = ModelStatus::Kind::ready;
    } else {
        next.kind = ModelStatus::Kind::failed;
        next.message = "в папке " + folder.string() + " нет файлов модели";
    }
    current = next;
    if (onChange)
        onChange(current);
}

} // namespace app
