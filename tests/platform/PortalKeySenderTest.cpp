// The RemoteDesktop portal paste sender against a fake portal on a private D-Bus bus.
#include "platform/linux/PortalKeySender.h"
#include "core/RunLoop.h"
#include "fakes/FakeRemoteDesktopPortal.h"
#include "fakes/MemorySecretStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using platform::KeySender;
using platform::PasteShortcut;
using platform::lnx::PortalKeySender;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

class PortalKeySenderTest : public testing::Test {
protected:
    void SetUp() override {
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
    // The calls since the last look, without the keys.
    std::vector<std::string> requests() {
        std::vector<std::string> found;
        auto calls = portal->calls();
        for (std::size_t i = seen; i < calls.size(); ++i) {
            if (calls[i].rfind("key", 0) != 0)
                found.push_back(calls[i]);
        }
        seen = calls.size();
        return found;
    }
    std::optional<std::string> token() const { return secrets->peek(PortalKeySender::secretAccount); }

    GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    std::unique_ptr<fakes::FakeRemoteDesktopPortal> portal;
    core::RunLoop loop;
    std::shared_ptr<fakes::MemorySecretStore> secrets = std::make_shared<fakes::MemorySecretStore>();
    std::mutex mutex;
    std::vector<double> pauses;
    std::size_t seen = 0;
};

} // namespace

TEST_F(PortalKeySenderTest, AsksOnceKeepsTheRestoreTokenAndSendsEachKeyAfterAGap) {
    auto sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    EXPECT_THAT(requests(),
                ElementsAre(StartsWith("CreateSession"),
                            AllOf(HasSubstr("'types': <uint32 1>"), HasSubstr("'persist_mode': <uint32 2>")),
                            StartsWith("Start")));
    // A lone Shift first, for desktops that lose a new session's first key; then Ctrl+V twice.
    auto calls = portal->calls();
    std::erase_if(calls, [](const std::string& call) { return call.rfind("key", 0) != 0; });
    EXPECT_THAT(calls, ElementsAre("key 42 1", "key 42 0", "key 29 1", "key 47 1", "key 47 0", "key 29 0", "key 29 1",
                                   "key 47 1", "key 47 0", "key 29 0"));
    const double gap = PortalKeySender::gapSeconds;
    EXPECT_EQ(pauses, (std::vector<double>{PortalKeySender::warmUpSeconds, gap, gap, gap, gap, gap, gap}));
    EXPECT_EQ(token(), "token-1");
    // Its keys are read in the user's layouts: where none has a Latin V, only Shift+Insert pastes.
    sender->latinV = [] { return std::optional(false); };
    EXPECT_EQ(sender->reachable(PasteShortcut::controlV), PasteShortcut::shiftInsert);

    // The next start of the program offers the token instead of asking, and keeps the new one.
    sender.reset();
    EXPECT_THAT(requests(), ElementsAre("Close"));
    sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    EXPECT_THAT(requests(), testing::Contains(HasSubstr("'restore_token': <'token-1'>")));
    EXPECT_EQ(token(), "token-2");
}

TEST_F(PortalKeySenderTest, ARefusedDialogFailsForgetsTheTokenAndTheNextPasteAsksAgain) {
    secrets->put("token-0", PortalKeySender::secretAccount);
    portal->startAnswer = 1;
    auto sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::failed);
    EXPECT_THAT(requests(), ElementsAre(StartsWith("CreateSession"), HasSubstr("'restore_token': <'token-0'>"),
                                        StartsWith("Start"), "Close"));
    EXPECT_EQ(token(), std::nullopt);

    portal->startAnswer = 0;
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    const auto again = requests();
    EXPECT_THAT(
        again, ElementsAre(StartsWith("CreateSession"), testing::Not(HasSubstr("restore_token")), StartsWith("Start")));

    // A token the portal rejects outright is dropped and the start asked for without it.
    secrets->put("damaged", PortalKeySender::secretAccount);
    sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    EXPECT_THAT(requests(), ElementsAre("Close", StartsWith("CreateSession"), HasSubstr("'damaged'"), "Close",
                                        StartsWith("CreateSession"), testing::Not(HasSubstr("restore_token")),
                                        StartsWith("Start")));
    EXPECT_EQ(token(), "token-2");

    // A portal that cannot remember (version 1) is not sent the options it would refuse.
    portal->version = 1;
    sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::sent);
    EXPECT_THAT(requests(), testing::Contains(
                                testing::AllOf(StartsWith("SelectDevices"), testing::Not(HasSubstr("persist_mode")))));

    // No portal on the bus at all.
    portal.reset();
    sender = makeSender();
    EXPECT_EQ(paste(*sender), KeySender::Result::failed);
}
