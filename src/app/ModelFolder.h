#pragma once

#include "app/DictationPorts.h"

#include <filesystem>
#include <string>
#include <vector>

namespace app {

/// A model folder the user brings (RUVEX_VOICE_MODEL_DIR): used as it is, never downloaded into
/// and never checked against the digests of the downloadable model. Ready when every model file
/// is there. Main thread, except verify().
class ModelFolder : public ModelPort {
public:
    /// `files` are the names the recogniser reads from the folder.
    ModelFolder(std::filesystem::path folder, std::vector<std::string> files);

    ModelStatus state() const override { return current; }
    bool isReady() const override;
    /// Nothing is downloaded: reports the folder as failed when files are missing, so the user sees why.
    void download() override;
    std::filesystem::path directory() const override { return folder; }
    /// Only that the files are there.
    bool verify() override { return isReady(); }

    /// The environment variable naming such a folder.
    static constexpr const char* variable = "RUVEX_VOICE_MODEL_DIR";

private:
    std::filesystem::path folder;
    std::vector<std::string> files;
    ModelStatus current;
};

} // namespace app
