#include "app/cli/DownloadCommand.h"

#include "core/Clock.h"
#include "core/RunLoop.h"
#include "speech/ModelFetch.h"
#include "speech/ModelStore.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <string>
#include <thread>

namespace app::cli {

using speech::ModelStore;

namespace {

/// Shows the download's progress: a bar redrawn in place on a terminal, plain lines elsewhere.
class ProgressPrinter {
public:
    ProgressPrinter(std::FILE* out, std::int64_t total) : out(out), total(total), terminal(::isatty(::fileno(out))) {}

    void show(double fraction) {
        auto bytes = static_cast<std::int64_t>(std::llround(fraction * static_cast<double>(total)));
        double now = clock.now();
        if (!started) {
            started = true;
            startTime = now;
            startBytes = bytes;
        }
        int percent = static_cast<int>(std::floor(fraction * 100));
        std::string amount = std::to_string(megabytes(bytes)) + " из " + std::to_string(megabytes(total)) + " МБ";
        if (terminal) {
            std::string line = bar(fraction) + " " + pad(std::to_string(percent) + "%", 4) + "  " + amount;
            double elapsed = now - startTime;
            // The first half second says little about the line's speed.
            if (elapsed >= 0.5) {
                char speed[32];
                std::snprintf(speed, sizeof speed, "  %.1f МБ/с",
                              static_cast<double>(bytes - startBytes) / 1e6 / elapsed);
                line += speed;
            }
            if (line != lastLine) {
                std::string padding(lastLine.size() > line.size() ? lastLine.size() - line.size() : 0, ' ');
                std::fprintf(out, "\r%s%s", line.c_str(), padding.c_str());
                std::fflush(out);
                lastLine = line;
            }
        } else if (percent / 10 > lastTenth) {
            lastTenth = percent / 10;
            std::fprintf(out, "Скачано %d%%: %s\n", percent, amount.c_str());
            std::fflush(out);
        }
    }

    /// Ends the bar's line so that what follows starts on a line of its own.
    void finish() {
        if (terminal && !lastLine.empty()) {
            std::fputs("\n", out);
            lastLine.clear();
        }
        std::fflush(out);
    }

private:
    static std::int64_t megabytes(std::int64_t bytes) { return (bytes + 500000) / 1000000; }

    static std::string pad(std::string text, std::size_t width) {
        return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
    }

    static std::string bar(double fraction) {
        const int width = 30;
        int filled = std::clamp(static_cast<int>(fraction * width), 0, width);
        return "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(width - filled), '.') + "]";
    }

    std::FILE* out;
    std::int64_t total;
    bool terminal;
    core::SystemClock clock;
    bool started = false;
    double startTime = 0;
    std::int64_t startBytes = 0;
    std::string lastLine;
    int lastTenth = -1;
};

} // namespace

int runDownloadCommand(std::FILE* out, std::FILE* err) {
    using Kind = ModelStore::State::Kind;
    core::RunLoop loop;
    ModelStore store(loop);
    const auto& table = ModelStore::files();
    auto total = std::accumulate(table.begin(), table.end(), std::int64_t{0},
                                 [](std::int64_t sum, const ModelStore::File& file) { return sum + file.size; });
    ProgressPrinter printer(out, total);
    store.onChange = [&](const ModelStore::State& state) {
        if (state.kind == Kind::downloading) {
            printer.show(state.fraction);
        }
    };
    std::fprintf(out, "Папка модели: %s\n", store.directory().c_str());
    if (speech::isDownloadRunning(store.directory())) {
        std::fputs("Модель уже скачивается другой копией программы, жду, пока она закончит…\n", out);
        std::fflush(out);
    }
    auto failWith = [&](const std::string& message) {
        printer.finish();
        std::fprintf(err, "Модель речи не скачалась: %s\n", message.c_str());
        std::fflush(err);
        return 1;
    };
    // A second round fetches again whatever the check found damaged; files fetched in this run
    // have been checked already, so a third is never needed.
    for (int round = 0; round < 2; ++round) {
        store.download();
        loop.runUntil([&] { return store.state().kind == Kind::ready || store.state().kind == Kind::failed; });
        loop.runFor(0); // the last progress notifications
        if (store.state().kind == Kind::failed) {
            return failWith(store.state().message);
        }
        printer.finish();
        std::fputs("Проверка файлов модели…\n", out);
        std::fflush(out);
        std::atomic<bool> checked = false;
        bool intact = false;
        std::thread checker([&] {
            intact = store.verify();
            checked = true;
        });
        loop.runUntil([&] { return checked.load(); });
        checker.join();
        loop.runFor(0);
        if (intact) {
            std::fputs("Модель речи готова.\n", out);
            std::fflush(out);
            return 0;
        }
        std::fputs("Часть файлов модели повреждена, скачиваю их заново.\n", out);
    }
    return failWith("файлы модели повреждены");
}

} // namespace app::cli
