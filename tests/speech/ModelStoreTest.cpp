#include "speech/ModelStore.h"

#include "core/RunLoop.h"
#include "speech/ModelFetch.h"
#include "speech/Sha256.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <random>
#include <set>
#include <thread>

namespace speech {

// Readable states in failure messages.
void PrintTo(const ModelStore::State& state, std::ostream* out) {
    const char* names[] = {"downloading", "failed", "missing", "ready"};
    *out << names[static_cast<int>(state.kind)] << "(" << state.fraction << ", \"" << state.message << "\")";
}

} // namespace speech

namespace {

using speech::ModelStore;
using State = ModelStore::State;
using Kind = State::Kind;
using ModelServer = testsupport::LoopbackServer;
using Names = std::set<std::string>;

const char* const fileNames[] = {"tokens.txt", "joiner.onnx", "decoder.onnx", "encoder.int8.onnx"};

class ModelStoreTest : public ::testing::Test {
protected:
    // Four files of random bytes, the last large enough for several progress events.
    void SetUp() override {
        std::mt19937 random(1);
        for (auto [name, size] :
             {std::pair{fileNames[0], 1000}, {fileNames[1], 20000}, {fileNames[2], 70000}, {fileNames[3], 400000}}) {
            std::string data(static_cast<std::size_t>(size), '\0');
            for (auto& byte : data) {
                byte = static_cast<char>(random() & 0xff);
            }
            testsupport::writeFile(scratch / name, data);
            table.push_back({name, size, *speech::sha256(scratch / name)});
            contents[name] = data;
            total += size;
            server.put(name, data);
        }
    }

    void makeStore(const std::string& baseURL = {}) {
        store = std::make_unique<ModelStore>(loop, table, baseURL.empty() ? server.filesURL() : baseURL, folder);
        store->onChange = [this](const State& state) { seen.push_back(state); };
    }

    void place(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            testsupport::writeFile(folder / name, contents.at(name));
        }
    }

    // Runs the main loop until the download has ended and every notification has arrived.
    void download() {
        store->download();
        loop.runUntil([&] { return store->state().kind == Kind::ready || store->state().kind == Kind::failed; });
        loop.runUntil([&] { return !seen.empty() && seen.back() == store->state(); });
    }

    // Runs verify() on a worker thread, as the start-up does, while the main loop turns.
    bool verifyOffMain() {
        std::atomic<bool> done = false;
        bool intact = false;
        std::thread worker([&] {
            intact = store->verify();
            done = true;
        });
        loop.runUntil([&] { return done.load(); });
        worker.join();
        loop.runFor(0);
        return intact;
    }

    // Every name in the model folder, temporary files included, the download lock file aside.
    Names folderContents() const {
        Names names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.insert(entry.path().filename().string());
        }
        names.erase(speech::downloadLockName);
        return names;
    }

    // `names` and the stamp file.
    static Names stamped(Names names) {
        names.insert(std::string(ModelStore::stampFileName));
        return names;
    }

    double share(std::initializer_list<const char*> names) const {
        double sum = 0;
        for (const char* name : names) {
            sum += static_cast<double>(contents.at(name).size());
        }
        return sum / static_cast<double>(total);
    }

    // Writes `data` over `name`, then gives the file the modification time `time`.
    void rewrite(const char* name, const std::string& data, std::filesystem::file_time_type time) {
        testsupport::writeFile(folder / name, data);
        std::filesystem::last_write_time(folder / name, time);
    }

    testsupport::TempDir scratch;
    std::vector<ModelStore::File> table;
    std::map<std::string, std::string> contents;
    std::int64_t total = 0;
    ModelServer server;
    core::RunLoop loop;
    testsupport::TempDir home;
    std::filesystem::path folder = home / "models/small";
    std::unique_ptr<ModelStore> store;
    std::vector<State> seen;
};

TEST_F(ModelStoreTest, DownloadsEveryFileIntoPlaceWithRisingProgressAndRemovesLeftovers) {
    testsupport::writeFile(folder / ".encoder.int8.onnx.part-a1b2c3", std::string(5000, 'p'));
    testsupport::writeFile(folder / "notes.txt", "kept");
    makeStore(server.filesURL(true)); // every file behind a redirect
    EXPECT_EQ(store->state(), State::missing());
    store->download();
    EXPECT_EQ(store->state(), State::downloading(0.0));
    store->download(); // a second call while one runs does nothing
    download();

    ASSERT_EQ(store->state(), State::ready());
    EXPECT_EQ(server.redirects(), 4);
    for (const char* name : fileNames) {
        EXPECT_EQ(testsupport::readFile(folder / name), contents[name]) << name;
        EXPECT_EQ(server.fileRequests(name), 1) << name;
    }
    EXPECT_EQ(folderContents(), stamped({fileNames[0], fileNames[1], fileNames[2], fileNames[3], "notes.txt"}));
    ASSERT_GE(seen.size(), 6u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), State::downloading(0.0)), 1);
    EXPECT_EQ(seen.front(), State::downloading(0.0));
    EXPECT_EQ(seen.back(), State::ready());
    double last = 0;
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
        ASSERT_EQ(seen[i].kind, Kind::downloading);
        EXPECT_GE(seen[i].fraction, last) << "the fraction never goes back";
        last = seen[i].fraction;
    }
    EXPECT_EQ(last, 1.0);
}

TEST_F(ModelStoreTest, OnlyFilesOfTheWrongSizeAreFetchedAndProgressStartsFromWhatIsOnDisk) {
    // Size alone decides what is fetched; the digest check of files in place is verify()'s job.
    place({fileNames[0], fileNames[3]});
    testsupport::writeFile(folder / "decoder.onnx", std::string(contents["decoder.onnx"].size(), 'x'));
    testsupport::writeFile(folder / "joiner.onnx", "short");
    makeStore();
    EXPECT_EQ(store->state(), State::missing());
    download();
    EXPECT_EQ(store->state(), State::ready());
    EXPECT_EQ(seen.front(), State::downloading(share({"tokens.txt", "decoder.onnx", "encoder.int8.onnx"})));
    EXPECT_EQ(server.fileRequests("joiner.onnx"), 1);
    EXPECT_EQ(server.totalFileRequests(), 1);
    EXPECT_EQ(testsupport::readFile(folder / "joiner.onnx"), contents["joiner.onnx"]);
}

TEST_F(ModelStoreTest, FailuresStopTheDownloadWithAMessageAndKeepNoPartialFile) {
    struct Case {
        std::string what;
        std::function<std::string()> prepare; // returns the base URL, empty for the server's
        std::string message;
        Names left;
    };
    std::unique_ptr<ModelServer> impostor;
    auto served = [&](std::string data) {
        return [&, data] {
            server.put("decoder.onnx", data);
            return std::string();
        };
    };
    const std::string decoder = contents["decoder.onnx"];
    const std::string damaged = "файл decoder.onnx пришел поврежденным";
    const Names firstTwo = stamped({"tokens.txt", "joiner.onnx"});
    std::vector<Case> cases = {
        {"not found, with an error page",
         [&] {
             server.setMode("decoder.onnx", ModelServer::Mode::notFound);
             return std::string();
         },
         damaged, firstTwo},
        {"same size, other bytes", served(std::string(decoder.size(), 'z')), damaged, firstTwo},
        {"shorter", served(decoder.substr(0, 1000)), damaged, firstTwo},
        {"longer", served(decoder + "tail"), damaged, firstTwo},
        {"empty", served(""), damaged, firstTwo},
        {"connection dropped mid-file",
         [&] {
             server.put("decoder.onnx", decoder, ModelServer::Mode::dropHalfway);
             return std::string();
         },
         "соединение прервалось", firstTwo},
        // Port 1 on loopback has no listener: the connection is refused at once.
        {"no server", [] { return std::string("http://127.0.0.1:1/files/"); }, "нет соединения с сервером", {}},
        {"certificate nobody vouches for",
         [&] {
             impostor = std::make_unique<ModelServer>(true);
             for (const auto& [name, data] : contents) {
                 impostor->put(name, data);
             }
             return impostor->filesURL();
         },
         "не удалось проверить подлинность сервера",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(folder);
        seen.clear();
        server.put("decoder.onnx", decoder);
        makeStore(c.prepare());
        download();
        EXPECT_EQ(store->state(), State::failed(c.message));
        EXPECT_EQ(folderContents(), c.left);
        EXPECT_EQ(server.fileRequests("encoder.int8.onnx"), 0) << "a failure stops the download";
    }
    EXPECT_EQ(impostor->totalFileRequests(), 0);
}

TEST_F(ModelStoreTest, FolderThatCannotBeCreatedFailsWithAMessage) {
    // A regular file stands where a parent folder must go (root ignores permissions, a file does not).
    testsupport::writeFile(home / "models", "not a folder");
    makeStore();
    download();
    EXPECT_EQ(store->state(), State::failed("не удалось создать папку модели"));
    EXPECT_EQ(server.totalFileRequests(), 0);
}

TEST_F(ModelStoreTest, DestroyingTheStoreStopsARunningTransferAndRemovesItsTemporaryFile) {
    server.setMode("encoder.int8.onnx", ModelServer::Mode::stall);
    makeStore();
    store->download();
    // Half the encoder has arrived; the server now holds the rest back.
    double before = share({"tokens.txt", "joiner.onnx", "decoder.onnx"});
    loop.runUntil([&] { return store->state().kind == Kind::downloading && store->state().fraction > before; });
    auto during = folderContents();
    EXPECT_TRUE(std::any_of(during.begin(), during.end(), [](const std::string& name) {
        return name.starts_with(".encoder.int8.onnx.");
    })) << "the partial file lives in the model folder under a hidden name";
    EXPECT_FALSE(during.contains("encoder.int8.onnx"));
    store.reset();
    loop.runFor(0);
    EXPECT_EQ(folderContents(), stamped({"tokens.txt", "joiner.onnx", "decoder.onnx"}));
}

TEST_F(ModelStoreTest, ASecondDownloadIntoTheFolderWaitsForTheFirstAndFetchesOnlyWhatIsMissing) {
    server.setMode("encoder.int8.onnx", ModelServer::Mode::stall);
    makeStore();
    store->download();
    double before = share({"tokens.txt", "joiner.onnx", "decoder.onnx"});
    loop.runUntil([&] { return store->state().kind == Kind::downloading && store->state().fraction > before; });
    auto partial = folderContents();
    ASSERT_EQ(partial.size(), 5u) << "three files, the stamp and the encoder's partial file";

    // Another program (here another store) asks for the same folder meanwhile.
    EXPECT_TRUE(speech::isDownloadRunning(folder));
    ModelStore second(loop, table, server.filesURL(), folder);
    std::vector<State> secondSeen;
    second.onChange = [&](const State& state) { secondSeen.push_back(state); };
    second.download();
    EXPECT_EQ(second.state(), State::downloading(before));
    loop.runFor(0.3);
    EXPECT_EQ(folderContents(), partial) << "the running download's partial file is left alone";
    EXPECT_EQ(server.totalFileRequests(), 4) << "the second one waits";

    // The first ends (the server cuts it off); the second then fetches the encoder alone.
    server.setMode("encoder.int8.onnx", ModelServer::Mode::serve);
    server.release();
    loop.runUntil([&] { return store->state().kind == Kind::failed && second.state().kind == Kind::ready; });
    EXPECT_EQ(store->state(), State::failed("соединение прервалось"));
    EXPECT_EQ(server.fileRequests("encoder.int8.onnx"), 2);
    EXPECT_EQ(server.totalFileRequests(), 5);
    EXPECT_EQ(testsupport::readFile(folder / "encoder.int8.onnx"), contents["encoder.int8.onnx"]);
    EXPECT_FALSE(speech::isDownloadRunning(folder));
}

TEST_F(ModelStoreTest, FilesInPlaceAreReadyAndVerifyRemovesOnesWhoseBytesChanged) {
    place({fileNames[0], fileNames[1], fileNames[2], fileNames[3]});
    makeStore();
    ASSERT_EQ(store->state(), State::ready());
    loop.runFor(0);
    EXPECT_TRUE(seen.empty()) << "creation does not notify";
    download();
    EXPECT_EQ(seen, std::vector<State>{State::ready()});
    EXPECT_EQ(server.totalFileRequests(), 0);
    seen.clear();
    EXPECT_TRUE(verifyOffMain()) << "intact files pass and are stamped";

    // Same size, flipped bytes, a new modification time: caught, removed, and the store goes to missing.
    auto flipped = contents["decoder.onnx"];
    flipped[flipped.size() / 2] = static_cast<char>(~flipped[flipped.size() / 2]);
    rewrite("decoder.onnx", flipped,
            std::filesystem::last_write_time(folder / "decoder.onnx") + std::chrono::seconds(1));
    EXPECT_FALSE(verifyOffMain());
    EXPECT_FALSE(std::filesystem::exists(folder / "decoder.onnx"));
    EXPECT_FALSE(store->isReady());
    EXPECT_EQ(store->state(), State::missing());
    EXPECT_EQ(seen, std::vector<State>{State::missing()});

    // The same change with the stamp's size and time restored is not looked at again: the stamp is
    // what spares the hashing at every start.
    auto changed = contents["encoder.int8.onnx"];
    changed[0] = static_cast<char>(~changed[0]);
    rewrite("encoder.int8.onnx", changed, std::filesystem::last_write_time(folder / "encoder.int8.onnx"));
    place({"decoder.onnx"});
    EXPECT_TRUE(verifyOffMain());
    EXPECT_TRUE(std::filesystem::exists(folder / "encoder.int8.onnx"));

    // Without a usable stamp file every file is hashed again, and the change is found.
    testsupport::writeFile(folder / std::string(ModelStore::stampFileName), "{not json");
    EXPECT_FALSE(verifyOffMain());
    EXPECT_FALSE(std::filesystem::exists(folder / "encoder.int8.onnx"));
    EXPECT_TRUE(std::filesystem::exists(folder / "decoder.onnx"));
}

TEST_F(ModelStoreTest, DownloadedFilesAreStampedSoVerifyNeedNotHashThemAgain) {
    makeStore();
    download();
    ASSERT_EQ(store->state(), State::ready());

    // A change that keeps size and time is invisible to the stamp: passing shows the download stamped the file.
    auto time = std::filesystem::last_write_time(folder / "joiner.onnx");
    rewrite("joiner.onnx", std::string(contents["joiner.onnx"].size(), 'j'), time);
    EXPECT_TRUE(verifyOffMain());
    // Any other change of time is checked, and the file goes.
    std::filesystem::last_write_time(folder / "joiner.onnx", time + std::chrono::seconds(5));
    EXPECT_FALSE(verifyOffMain());
    EXPECT_FALSE(std::filesystem::exists(folder / "joiner.onnx"));
    EXPECT_EQ(store->state(), State::missing());
}

TEST(ModelStoreTable, TheFolderAndTheAddressFollowTheEnvironment) {
    testsupport::IsolatedHome isolated;
    EXPECT_EQ(ModelStore::defaultDirectory(),
              isolated.dataHome() / "Ruvex Voice" / "models" / "gigaam-v3-e2e-rnnt-int8-2025-12-16");
    unsetenv("RUVEX_VOICE_MODEL_URL");
    EXPECT_EQ(ModelStore::configuredBaseURL(), ModelStore::defaultBaseURL);
    for (const char* url : {"http://mirror.example/model", "http://mirror.example/model/"}) {
        setenv("RUVEX_VOICE_MODEL_URL", url, 1);
        EXPECT_EQ(ModelStore::configuredBaseURL(), "http://mirror.example/model/");
    }
    unsetenv("RUVEX_VOICE_MODEL_URL");
}

} // namespace
