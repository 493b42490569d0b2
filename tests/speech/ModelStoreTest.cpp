#include "speech/ModelStore.h"

#include "ModelServer.h"
#include "core/RunLoop.h"
#include "speech/Sha256.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <random>
#include <set>
#include <thread>

namespace speech {

// Readable states in failure messages.
void PrintTo(const ModelStore::State& state, std::ostream* out) {
    const char* names[] = {"downloading", "failed", "missing", "ready"};
    *out << names[static_cast<int>(state.kind)];
    if (state.kind == ModelStore::State::Kind::downloading) {
        *out << "(" << state.fraction << ")";
    } else if (state.kind == ModelStore::State::Kind::failed) {
        *out << "(\"" << state.message << "\")";
    }
}

} // namespace speech

namespace {

using speech::ModelStore;
using State = ModelStore::State;
using Kind = State::Kind;
using testsupport::ModelServer;

/// Bytes that differ from file to file and from run to run of no test.
std::string generated(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (auto& byte : data) {
        byte = static_cast<char>(random() & 0xff);
    }
    return data;
}

/// A small model: four files of a few sizes, the last one large enough for several progress events.
struct SmallModel {
    testsupport::TempDir scratch;
    std::vector<ModelStore::File> table;
    std::map<std::string, std::string> contents;

    SmallModel() {
        const std::pair<const char*, std::size_t> files[] = {
            {"tokens.txt", 1000}, {"joiner.onnx", 20000}, {"decoder.onnx", 70000}, {"encoder.int8.onnx", 400000}};
        unsigned seed = 1;
        for (const auto& [name, size] : files) {
            auto data = generated(size, seed++);
            testsupport::writeFile(scratch / name, data);
            table.push_back({name, static_cast<std::int64_t>(size), *speech::sha256(scratch / name)});
            contents[name] = data;
        }
    }

    std::int64_t size(const std::string& name) const { return static_cast<std::int64_t>(contents.at(name).size()); }
    std::int64_t total() const {
        std::int64_t sum = 0;
        for (const auto& file : table) {
            sum += file.size;
        }
        return sum;
    }
};

class ModelStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [name, data] : model.contents) {
            server.put(name, data);
        }
    }

    void makeStore(const std::string& baseURL = {}) {
        store = std::make_unique<ModelStore>(loop, model.table, baseURL.empty() ? server.baseURL() : baseURL, folder);
        store->onChange = [this](const State& state) { seen.push_back(state); };
    }

    void placeFile(const std::string& name) { testsupport::writeFile(folder / name, model.contents.at(name)); }

    /// Runs the main loop until the download has ended and every notification has arrived.
    void settle() {
        loop.runUntil([&] { return store->state().kind == Kind::ready || store->state().kind == Kind::failed; });
        loop.runUntil([&] { return !seen.empty() && seen.back() == store->state(); });
    }

    /// Runs verify() on a worker thread, as the start-up does, while the main loop turns.
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

    /// Every name in the model folder, temporary files included.
    std::set<std::string> folderContents() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    std::set<std::string> expectedFolder(std::initializer_list<std::string> names) const {
        std::set<std::string> result(names);
        result.insert(std::string(ModelStore::stampFileName));
        return result;
    }

    SmallModel model;
    ModelServer server;
    core::RunLoop loop;
    testsupport::TempDir home;
    std::filesystem::path folder = home / "models/small";
    std::unique_ptr<ModelStore> store;
    std::vector<State> seen;
};

TEST_F(ModelStoreTest, AllFilesPresentIsReadyAtCreationAndDownloadFetchesNothing) {
    for (const auto& file : model.table) {
        placeFile(file.name);
    }
    makeStore();
    EXPECT_EQ(store->state(), State::ready());
    EXPECT_TRUE(store->isReady());
    loop.runFor(0);
    EXPECT_TRUE(seen.empty()) << "creation does not notify";

    store->download();
    settle();
    EXPECT_EQ(seen, std::vector<State>{State::ready()});
    EXPECT_EQ(server.totalRequests(), 0);
}

TEST_F(ModelStoreTest, DownloadsEveryFileIntoPlaceWithRisingProgress) {
    makeStore();
    EXPECT_EQ(store->state(), State::missing());
    store->download();
    EXPECT_EQ(store->state(), State::downloading(0.0));
    settle();

    ASSERT_EQ(store->state(), State::ready());
    for (const auto& file : model.table) {
        EXPECT_EQ(testsupport::readFile(folder / file.name), model.contents[file.name]) << file.name;
        EXPECT_EQ(server.requests(file.name), 1) << file.name;
    }
    EXPECT_EQ(folderContents(), expectedFolder({"tokens.txt", "joiner.onnx", "decoder.onnx", "encoder.int8.onnx"}));

    ASSERT_GE(seen.size(), 6u);
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

TEST_F(ModelStoreTest, PartialFilesLeftByAnInterruptedRunAreRemoved) {
    placeFile("tokens.txt");
    testsupport::writeFile(folder / ".encoder.int8.onnx.part-a1b2c3", std::string(5000, 'p'));
    testsupport::writeFile(folder / "notes.txt", "kept");
    makeStore();
    store->download();
    settle();
    EXPECT_EQ(store->state(), State::ready());
    EXPECT_EQ(folderContents(),
              expectedFolder({"tokens.txt", "joiner.onnx", "decoder.onnx", "encoder.int8.onnx", "notes.txt"}));
}

TEST_F(ModelStoreTest, OnlyTheMissingFileIsFetchedAndProgressStartsFromWhatIsOnDisk) {
    placeFile("tokens.txt");
    placeFile("joiner.onnx");
    placeFile("decoder.onnx");
    makeStore();
    EXPECT_EQ(store->state(), State::missing());
    store->download();
    settle();

    ASSERT_EQ(store->state(), State::ready());
    auto present = model.size("tokens.txt") + model.size("joiner.onnx") + model.size("decoder.onnx");
    EXPECT_EQ(seen.front(), State::downloading(static_cast<double>(present) / static_cast<double>(model.total())));
    EXPECT_EQ(server.requests("encoder.int8.onnx"), 1);
    EXPECT_EQ(server.totalRequests(), 1);
}

TEST_F(ModelStoreTest, FileOfTheRightSizeIsKeptEvenWithWrongContents) {
    // Size alone decides what is fetched; the digest check of files in place is verify()'s job.
    for (const auto& file : model.table) {
        placeFile(file.name);
    }
    testsupport::writeFile(folder / "decoder.onnx", std::string(model.contents["decoder.onnx"].size(), 'x'));
    testsupport::writeFile(folder / "joiner.onnx", "short");
    makeStore();
    store->download();
    settle();
    EXPECT_EQ(store->state(), State::ready());
    EXPECT_EQ(server.requests("joiner.onnx"), 1);
    EXPECT_EQ(server.totalRequests(), 1);
    EXPECT_EQ(testsupport::readFile(folder / "joiner.onnx"), model.contents["joiner.onnx"]);
}

TEST_F(ModelStoreTest, NotFoundWithABodyReportsTheFileAsDamaged) {
    server.setMode("joiner.onnx", ModelServer::Mode::notFound);
    makeStore();
    store->download();
    settle();

    EXPECT_EQ(store->state(), State::failed("файл joiner.onnx пришел поврежденным"));
    EXPECT_EQ(folderContents(), expectedFolder({"tokens.txt"})) << "the error page is not stored, no temporary file";
    EXPECT_EQ(server.requests("decoder.onnx"), 0) << "a failure stops the download";
}

TEST_F(ModelStoreTest, ServedFileOfWrongContentsOrSizeIsDamagedAndNotKept) {
    const std::pair<const char*, std::string> cases[] = {
        {"same size, other bytes", std::string(model.contents["decoder.onnx"].size(), 'z')},
        {"shorter", model.contents["decoder.onnx"].substr(0, 1000)},
        {"longer", model.contents["decoder.onnx"] + "tail"},
        {"empty", ""},
    };
    for (const auto& [what, served] : cases) {
        SCOPED_TRACE(what);
        std::filesystem::remove_all(folder);
        seen.clear();
        server.put("decoder.onnx", served);
        makeStore();
        store->download();
        settle();
        EXPECT_EQ(store->state(), State::failed("файл decoder.onnx пришел поврежденным"));
        EXPECT_EQ(folderContents(), expectedFolder({"tokens.txt", "joiner.onnx"}));
    }
}

TEST_F(ModelStoreTest, ConnectionDroppedMidFileFailsWithTheTransportMessageAndLeavesNoTemporaryFile) {
    server.setMode("encoder.int8.onnx", ModelServer::Mode::dropHalfway);
    makeStore();
    store->download();
    settle();

    EXPECT_EQ(store->state(), State::failed("соединение прервалось"));
    EXPECT_EQ(folderContents(), expectedFolder({"tokens.txt", "joiner.onnx", "decoder.onnx"}));
}

TEST_F(ModelStoreTest, NoServerFailsWithTheConnectionMessage) {
    // Port 1 on loopback has no listener: the connection is refused at once.
    makeStore("http://127.0.0.1:1/files/");
    store->download();
    settle();
    EXPECT_EQ(store->state(), State::failed("нет соединения с сервером"));
}

TEST_F(ModelStoreTest, ServerWithACertificateNobodyVouchesForIsRefused) {
    ModelServer impostor(true);
    for (const auto& [name, data] : model.contents) {
        impostor.put(name, data);
    }
    makeStore(impostor.baseURL());
    store->download();
    settle();
    EXPECT_EQ(store->state(), State::failed("не удалось проверить подлинность сервера"));
    EXPECT_EQ(impostor.totalRequests(), 0);
    EXPECT_EQ(folderContents(), std::set<std::string>{});
}

TEST_F(ModelStoreTest, RetryAfterAFailureKeepsFinishedFilesAndFetchesOnlyTheRest) {
    server.setMode("joiner.onnx", ModelServer::Mode::notFound);
    makeStore();
    store->download();
    settle();
    ASSERT_EQ(store->state().kind, Kind::failed);
    ASSERT_TRUE(std::filesystem::exists(folder / "tokens.txt"));

    server.setMode("joiner.onnx", ModelServer::Mode::serve);
    seen.clear();
    store->download();
    settle();

    EXPECT_EQ(store->state(), State::ready());
    EXPECT_EQ(seen.front(),
              State::downloading(static_cast<double>(model.size("tokens.txt")) / static_cast<double>(model.total())));
    EXPECT_GT(seen.front().fraction, 0.0);
    EXPECT_EQ(server.requests("tokens.txt"), 1);
    EXPECT_EQ(server.requests("joiner.onnx"), 2);
    EXPECT_EQ(server.requests("decoder.onnx"), 1);
    EXPECT_EQ(server.requests("encoder.int8.onnx"), 1);
}

TEST_F(ModelStoreTest, SecondDownloadCallWhileOneRunsDoesNothing) {
    makeStore();
    store->download();
    auto first = store->state();
    store->download();
    EXPECT_EQ(store->state(), first);
    settle();

    EXPECT_EQ(store->state(), State::ready());
    EXPECT_EQ(server.totalRequests(), 4);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), State::downloading(0.0)), 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), State::ready()), 1);
}

TEST_F(ModelStoreTest, FollowsRedirects) {
    makeStore(server.baseURL(true));
    store->download();
    settle();
    EXPECT_EQ(store->state(), State::ready());
    EXPECT_EQ(server.redirects(), 4);
    EXPECT_EQ(server.totalRequests(), 4);
    EXPECT_EQ(testsupport::readFile(folder / "encoder.int8.onnx"), model.contents["encoder.int8.onnx"]);
}

TEST_F(ModelStoreTest, FolderThatCannotBeCreatedFailsWithAMessage) {
    // A regular file stands where a parent folder must go (root ignores permissions, a file does not).
    testsupport::writeFile(home / "models", "not a folder");
    makeStore();
    store->download();
    settle();
    EXPECT_EQ(store->state(), State::failed("не удалось создать папку модели"));
    EXPECT_EQ(server.totalRequests(), 0);
}

TEST_F(ModelStoreTest, DestroyingTheStoreStopsARunningTransferAndRemovesItsTemporaryFile) {
    server.setMode("encoder.int8.onnx", ModelServer::Mode::stall);
    makeStore();
    store->download();
    auto before =
        static_cast<double>(model.total() - model.size("encoder.int8.onnx")) / static_cast<double>(model.total());
    // Half the encoder has arrived; the server now holds the rest back.
    loop.runUntil([&] { return store->state().kind == Kind::downloading && store->state().fraction > before; });
    auto during = folderContents();
    auto temporary = std::find_if(during.begin(), during.end(),
                                  [](const std::string& name) { return name.starts_with(".encoder.int8.onnx."); });
    EXPECT_NE(temporary, during.end()) << "the partial file lives in the model folder under a hidden name";
    EXPECT_FALSE(during.contains("encoder.int8.onnx"));
    store.reset();
    loop.runFor(0);
    EXPECT_EQ(folderContents(), expectedFolder({"tokens.txt", "joiner.onnx", "decoder.onnx"}));
}

TEST_F(ModelStoreTest, VerifyRemovesAFileWhoseBytesChangedAndTrustsUnchangedStamps) {
    for (const auto& file : model.table) {
        placeFile(file.name);
    }
    makeStore();
    ASSERT_EQ(store->state(), State::ready());
    EXPECT_TRUE(verifyOffMain()) << "intact files pass and are stamped";

    // Same size, flipped bytes, a new modification time: caught, removed, and the store goes to missing.
    auto decoder = folder / "decoder.onnx";
    auto flipped = model.contents["decoder.onnx"];
    flipped[flipped.size() / 2] = static_cast<char>(~flipped[flipped.size() / 2]);
    auto stamped = std::filesystem::last_write_time(decoder);
    testsupport::writeFile(decoder, flipped);
    std::filesystem::last_write_time(decoder, stamped + std::chrono::seconds(1));
    EXPECT_FALSE(verifyOffMain());
    EXPECT_FALSE(std::filesystem::exists(decoder));
    EXPECT_FALSE(store->isReady());
    EXPECT_EQ(store->state(), State::missing());
    EXPECT_EQ(seen, std::vector<State>{State::missing()});

    // The same change with the stamp's size and time restored is not looked at again: the stamp is
    // what spares the hashing at every start.
    auto encoder = folder / "encoder.int8.onnx";
    stamped = std::filesystem::last_write_time(encoder);
    auto changed = model.contents["encoder.int8.onnx"];
    changed[0] = static_cast<char>(~changed[0]);
    testsupport::writeFile(encoder, changed);
    std::filesystem::last_write_time(encoder, stamped);
    placeFile("decoder.onnx");
    EXPECT_TRUE(verifyOffMain());
    EXPECT_TRUE(std::filesystem::exists(encoder));

    // Without a usable stamp file every file is hashed again, and the change is found.
    testsupport::writeFile(folder / std::string(ModelStore::stampFileName), "{not json");
    EXPECT_FALSE(verifyOffMain());
    EXPECT_FALSE(std::filesystem::exists(encoder));
    EXPECT_TRUE(std::filesystem::exists(decoder));
}

TEST_F(ModelStoreTest, DownloadedFilesAreStampedSoVerifyNeedNotHashThemAgain) {
    makeStore();
    store->download();
    settle();
    ASSERT_EQ(store->state(), State::ready());

    // A change that keeps size and time is invisible to the stamp: passing shows the download stamped the file.
    auto joiner = folder / "joiner.onnx";
    auto stamped = std::filesystem::last_write_time(joiner);
    testsupport::writeFile(joiner, std::string(model.contents["joiner.onnx"].size(), 'j'));
    std::filesystem::last_write_time(joiner, stamped);
    EXPECT_TRUE(verifyOffMain());

    // Any other change of time is checked, and the file goes.
    std::filesystem::last_write_time(joiner, stamped + std::chrono::seconds(5));
    EXPECT_FALSE(verifyOffMain());
    EXPECT_FALSE(std::filesystem::exists(joiner));
    EXPECT_EQ(store->state(), State::missing());

    // The next download fetches exactly what verify removed.
    seen.clear();
    store->download();
    settle();
    EXPECT_EQ(store->state(), State::ready());
    EXPECT_EQ(server.requests("joiner.onnx"), 2);
    EXPECT_EQ(server.totalRequests(), 5);
}

TEST(ModelStoreTable, IsTheRealModelAndItsAddressIsConfigurable) {
    const auto& files = ModelStore::files();
    ASSERT_EQ(files.size(), 4u);
    std::int64_t total = 0;
    for (const auto& file : files) {
        total += file.size;
        EXPECT_EQ(file.sha256.size(), 64u);
    }
    EXPECT_EQ(total, 231897202);
    EXPECT_EQ(files[0].name, "tokens.txt");
    EXPECT_EQ(files[3].name, "encoder.int8.onnx");

    testsupport::IsolatedHome isolated;
    EXPECT_EQ(ModelStore::defaultDirectory(),
              isolated.dataHome() / "Ruvex Voice" / "models" / "gigaam-v3-e2e-rnnt-int8-2025-12-16");
    unsetenv("RUVEX_VOICE_MODEL_URL");
    EXPECT_EQ(ModelStore::configuredBaseURL(), ModelStore::defaultBaseURL);
    setenv("RUVEX_VOICE_MODEL_URL", "http://mirror.example/model", 1);
    EXPECT_EQ(ModelStore::configuredBaseURL(), "http://mirror.example/model/");
    setenv("RUVEX_VOICE_MODEL_URL", "http://mirror.example/model/", 1);
    EXPECT_EQ(ModelStore::configuredBaseURL(), "http://mirror.example/model/");
    unsetenv("RUVEX_VOICE_MODEL_URL");
}

} // namespace
