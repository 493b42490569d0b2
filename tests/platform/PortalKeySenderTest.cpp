// The RemoteDesktop portal paste sender against a fake portal on a private D-Bus bus.
#include "platform/linux/PortalKeySender.h"
#include "core/RunLoop.h"
#include "fakes/FakeRemoteDesktopPortal.h"
#include "fakes/MemorySecretStore.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>

using platform::KeySender;
using platform::PasteShortcut;
using platform::lnx::PortalKeySender;

namespace {

class PortalKeySenderTest : public testing::Test {
protected:
    void SetUp() override {
        bus = g_test_dbus_new(G_TEST_DBUS_NONE);
        g_test_dbus_up(bus);
        portal = std::make_unique<fakes::FakeRemoteDesktopPortal>(g_test_dbus_get_bus_address(bus), 2);
    }
    void TearDown() override {
        portal.reset();
        g_test_dbus_down(bus);
        g_object_unref(bus);
    }

    std::unique_ptr<PortalKeySender> makeSender() {
        return std::make_unique<PortalKeySender>(loop, secrets, nullptr, [this](double seconds) {
            std::lock_guard lock(mutex);
            pauses.push_back(seconds);
        });
    }
    std::optional<KeySender::Result> paste(KeySender& sender) {
        std::optional<KeySender::Result> result;
        sender.sendPaste(PasteShortcut::controlV, [&](KeySender::Result got) { result = got; });
        loop.runUntil([&] { return result.has_value(); }, 0.01);
        return result;
    }
    std::vector<double> takePauses() {
        std::lock_guard lock(mutex);
        return std::exchange(pauses, {});
    }
    std::optional<std::string> storedToken() const {
        return secrets->peek(PortalKeySender::secretService, PortalKeySender::secretAccount);
    }

    GTestDBus* bus = nullptr;
    std::unique_ptr<fakes::FakeRemoteDesktopPortal> portal;
    core::RunLoop loop;
    std::shared_ptr<fakes::MemorySecretStore> secrets = std::make_shared<fakes::MemorySecretStore>();
    std::mutex mutex;
    std::vector<double> pauses;
};

using Keys = std::vector<std::pair<int, guint32>>;
const Keys warmUp = {{42, 1}, {42, 0}};
const Keys controlV = {{29, 1}, {47, 1}, {47, 0}, {29, 0}};

Keys join(Keys a, const Keys& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(PortalKeySenderTest, AsksOnceKeepsTheRestoreTokenAndSendsEachKeyAfterAGap) {
    auto sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    auto seen = portal->seen();
    EXPECT_EQ(seen.starts, 1);
    ASSERT_EQ(seen.selections.size(), 1u);
    EXPECT_EQ(seen.selections[0].types, 1u);
    EXPECT_EQ(seen.selections[0].persistMode, 2u);
    EXPECT_FALSE(seen.selections[0].restoreToken);
    // A lone Shift first, for desktops that lose a new session's first key.
    EXPECT_EQ(seen.keys, join(join(warmUp, controlV), controlV));
    const double gap = PortalKeySender::gapSeconds;
    EXPECT_EQ(takePauses(), (std::vector<double>{PortalKeySender::warmUpSeconds, gap, gap, gap, gap, gap, gap}));
    EXPECT_EQ(storedToken(), "token-1");

    // The next start of the program offers the token instead of asking, and keeps the new one.
    sender.reset();
    loop.runUntil([&] { return portal->seen().closes == 1; }, 0.01);
    sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    seen = portal->seen();
    ASSERT_EQ(seen.selections.size(), 2u);
    EXPECT_EQ(seen.selections[1].restoreToken, "token-1");
    EXPECT_EQ(storedToken(), "token-2");
}

TEST_F(PortalKeySenderTest, ARefusedDialogFailsForgetsTheTokenAndTheNextPasteAsksAgain) {
    secrets->put(PortalKeySender::secretService, PortalKeySender::secretAccount, "revoked");
    portal->answerStart(1);
    auto sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::failed);
    EXPECT_EQ(portal->seen().selections.at(0).restoreToken, "revoked");
    EXPECT_EQ(storedToken(), std::nullopt);
    EXPECT_TRUE(portal->seen().keys.empty());

    portal->answerStart(0);
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    const auto seen = portal->seen();
    EXPECT_EQ(seen.starts, 2);
    EXPECT_FALSE(seen.selections.at(1).restoreToken);
    EXPECT_EQ(seen.keys, join(warmUp, controlV));

    // A portal that cannot remember (version 1) is not sent the options it would refuse.
    portal->setVersion(1);
    sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    EXPECT_FALSE(portal->seen().selections.at(2).persistMode);

    // No portal on the bus at all.
    portal.reset();
    sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::failed);
}
