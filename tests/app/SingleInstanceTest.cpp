#include "app/SingleInstance.h"
#include "app/ModelFolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(SingleInstance, OnlyOneHolderUntilItGoes) {
    testsupport::TempDir dir;
    const auto file = dir / "run" / "ruvex-voice.lock";
    {
        app::SingleInstance first(file);
        EXPECT_TRUE(first.acquired());
        app::SingleInstance second(file);
        EXPECT_FALSE(second.acquired());

        // Another process is refused too.
        const pid_t child = fork();
        if (child == 0)
            _exit(app::SingleInstance(file).acquired() ? 0 : 3);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 3);
    }
    app::SingleInstance third(file);
    EXPECT_TRUE(third.acquired());
}

TEST(SingleInstance, AFolderAnotherUserControlsCannotKeepItFromStarting) {
    testsupport::IsolatedHome home;
    // The stand-in for the runtime folder, taken first by another user (or open to everyone),
    // with a lock file of theirs that they hold.
    const auto shared = home.path() / "tmp" / "ruvex-voice-1000";
    std::filesystem::create_directories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    }
    const auto file = shared / "ruvex-voice.lock";
    const int theirs = ::open(file.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_EQ(::flock(theirs, LOCK_EX | LOCK_NB), 0);

    app::SingleInstance first(file);
    EXPECT_TRUE(first.acquired());
    app::SingleInstance second(file);
    EXPECT_FALSE(second.acquired()) << "still one copy at a time";
    ::close(theirs);
}

TEST(SingleInstance, LivesInTheRuntimeFolder) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(app::SingleInstance::defaultFile().parent_path(), home.path() / "runtime");
}

TEST(ModelFolder, ReadyWhenEveryFileIsThereAndNeverDownloads) {
    testsupport::TempDir dir;
    app::ModelFolder folder(dir.path(), {"tokens.txt", "encoder.int8.onnx"});
    std::vector<app::ModelStatus> changes;
    folder.onChange = [&](const app::ModelStatus& state) { changes.push_back(state); };
    EXPECT_FALSE(folder.isReady());
    EXPECT_EQ(folder.state().kind, app::ModelStatus::Kind::missing);
    folder.download();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].kind, app::ModelStatus::Kind::failed);
    EXPECT_EQ(changes[0].message, "в папке " + dir.path().string() + " нет файлов модели");

    testsupport::writeFile(dir / "tokens.txt", "a 0\n");
    EXPECT_FALSE(folder.verify());
    testsupport::writeFile(dir / "encoder.int8.onnx", "not checked");
    EXPECT_TRUE(folder.isReady());
    EXPECT_TRUE(folder.verify());
    EXPECT_EQ(folder.directory(), dir.path());
    folder.download();
    EXPECT_EQ(changes.back().kind, app::ModelStatus::Kind::ready);
    EXPECT_EQ(app::ModelFolder(dir.path(), {"tokens.txt"}).state().kind, app::ModelStatus::Kind::ready);
}
