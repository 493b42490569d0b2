#include "app/cli/TranscribeCommand.h"

#include "speech/AudioFile.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"
#include "speech/ModelStore.h"
#include "text/Transcript.h"
#include "text/Vocabulary.h"

#include <future>
#include <memory>
#include <ostream>

namespace app::cli::TranscribeCommand {

using speech::DictationSession;
using speech::Engine;
using speech::Samples;

namespace {

constexpr size_t chunk = 320; // 20 ms, as the capture delivers it

std::string quoted(const std::filesystem::path& path) {
    return "«" + path.string() + "»";
}

std::string transcribe(const std::shared_ptr<Engine>& engine, const std::vector<float>& audio) {
    std::promise<std::string> result;
    DictationSession session(engine);
    for (size_t at = 0; at < audio.size(); at += chunk) {
        auto end = audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, audio.size()));
        session.feed(Samples(audio.begin() + static_cast<std::ptrdiff_t>(at), end));
    }
    session.finish([&result](std::string text) { result.set_value(std::move(text)); });
    return result.get_future().get();
}

} // namespace

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::filesystem::path modelDirectory = speech::ModelStore::defaultDirectory();
    std::vector<std::filesystem::path> files;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--model") {
            if (i + 1 == arguments.size()) {
                err << "После --model укажите папку модели\n";
                return 2;
            }
            modelDirectory = arguments[++i];
        } else if (arguments[i].rfind("--", 0) == 0) {
            err << "Неизвестный параметр " << quoted(arguments[i]) << "\n";
            return 2;
        } else {
            files.emplace_back(arguments[i]);
        }
    }
    if (files.empty()) {
        err << "Укажите хотя бы один аудиофайл: ruvex-voice --transcribe [--model ПАПКА] ФАЙЛ...\n";
        return 2;
    }

    std::error_code missing;
    if (!std::filesystem::is_directory(modelDirectory, missing)) {
        err << "Модель речи не найдена: " << quoted(modelDirectory) << "\n";
        return 1;
    }
    text::Vocabulary vocabulary = text::Vocabulary::load();
    std::shared_ptr<Engine> engine;
    try {
        engine = std::make_shared<Engine>(modelDirectory, vocabulary.writeTermsFile());
    } catch (const Engine::Failure& failure) {
        err << failure.what() << ": " << quoted(modelDirectory) << "\n";
        return 1;
    }

    int status = 0;
    for (const auto& file : files) {
        auto audio = speech::readAudio(file);
        if (!audio) {
            err << "Не удалось прочитать аудиофайл " << quoted(file) << ": " << audio.failure << "\n";
            status = 1;
            continue;
        }
        std::string raw = transcribe(engine, audio.samples);
        out << vocabulary.apply(text::Transcript::cleanLocally(raw)) << "\n" << std::flush;
    }
    return status;
}

} // namespace app::cli::TranscribeCommand
