// The real program on the rig's desktop (scripts/rig.sh): the trigger key through XTest, speech (the
// tone model's alphabet) through the virtual microphone, text into real Qt, GTK and terminal windows.
// Each test is one scenario as a user meets it.
#include "Tones.h"
#include "platform/linux/AtspiCaretProbe.h"
#include "platform/linux/ToolkitAccessibility.h"
#include "platform/x11/X11FocusedWindow.h"
#include "support/Desktop.h"
#include "support/LoopbackServer.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <signal.h>

#include <map>
#include <sstream>

namespace {

using desktop::pumpUntil;
using desktop::runTool;
using desktop::selectionTarget;
using desktop::TextTarget;
using desktop::TrayProgram;

const std::string firstPiece = "съешь же ещё этих мягких";
const std::string secondPiece = "французских булок да выпей чаю";
const std::string spoken = "Съешь же ещё этих мягких французских булок да выпей чаю";

/// Two pieces of speech with a pause between them long enough to be cut there, as a WAV file.
std::filesystem::path twoPieces(const testsupport::TempDir& dir) {
    tones::Samples audio = tones::phrase(firstPiece);
    tones::append(audio, tones::silence(1.0));
    tones::append(audio, tones::phrase(secondPiece));
    tones::append(audio, tones::silence(0.5));
    auto file = dir / "speech.wav";
    tones::writeWav(file, audio);
    return file;
}

/// A sound server of the test's own on `socket`, with the rig's virtual microphone ("vmic", played into
/// through "vmic_out") as its default source; killed with the object. It stays off the session bus,
/// where the rig's server holds the name a second one would ask for.
std::unique_ptr<testsupport::Process> soundServer(const std::filesystem::path& socket) {
    auto server = std::make_unique<testsupport::Process>(
        std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                 "--use-pid-file=no", "--realtime=no", "--high-priority=no", "--log-level=error", "-L",
                                 "module-native-protocol-unix socket=" + socket.string(), "-L",
                                 "module-null-sink sink_name=vmic_out", "-L",
                                 "module-remap-source master=vmic_out.monitor source_name=vmic"},
        testsupport::Process::Options{
            {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (socket.parent_path() / "no-bus").string()}});
    pumpUntil([&] {
        return runTool({"pactl", "-s", "unix:" + socket.string(), "set-default-source", "vmic"}).status == 0;
    });
    return server;
}

/// The data of every target of a selection, leaving out those describing the selection itself.
std::map<std::string, std::string> selectionContents(const std::string& selection = "clipboard") {
    std::map<std::string, std::string> contents;
    auto targets = selectionTarget("TARGETS", selection).value_or("");
    std::istringstream lines(targets);
    for (std::string target; std::getline(lines, target);) {
        if (target != "TARGETS" && target != "MULTIPLE" && target != "TIMESTAMP" && target != "SAVE_TARGETS")
            contents[target] = selectionTarget(target, selection).value_or("<refused>");
    }
    return contents;
}

/// Another program owning a selection with plain text, as after the user copied in it.
std::unique_ptr<testsupport::Process> owner(const std::string& text, const std::string& selection = "clipboard") {
    auto xclip = std::make_unique<testsupport::Process>(
        std::vector<std::string>{"xclip", "-quiet", "-selection", selection, "-i"});
    xclip->write(text, true);
    pumpUntil([&] { return selectionTarget("UTF8_STRING", selection) == text; });
    return xclip;
}

/// A desktop panel's StatusNotifierWatcher: with it, Qt publishes the tray item and its menu on D-Bus,
/// where the test reads and clicks them as a panel does.
class TrayPanel : public QDBusVirtualObject {
public:
    TrayPanel() {
        auto bus = QDBusConnection::sessionBus();
        ok = bus.registerVirtualObject("/StatusNotifierWatcher", this) &&
             bus.registerService("org.kde.StatusNotifierWatcher");
    }
    ~TrayPanel() override {
        QDBusConnection::sessionBus().unregisterService("org.kde.StatusNotifierWatcher");
        QDBusConnection::sessionBus().unregisterObject("/StatusNotifierWatcher");
    }
    // Qt reads the host's property through an interface built from this description.
    QString introspect(const QString&) const override {
        return R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
</interface>)";
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QVariantMap properties = {{"IsStatusNotifierHostRegistered", true},
                                        {"ProtocolVersion", 0},
                                        {"RegisteredStatusNotifierItems", QStringList{}}};
        if (message.member() == "Get") {
            const QVariant value = properties.value(message.arguments().value(1).toString());
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        } else if (message.member() == "GetAll") {
            connection.send(message.createReply(properties));
        } else if (message.member().startsWith("RegisterStatusNotifier")) {
            if (message.member() == "RegisterStatusNotifierItem")
                item = message.service();
            connection.send(message.createReply());
        } else {
            return false; // introspection is answered from introspect()
        }
        return true;
    }
    /// Opens the item's menu and clicks the entry titled `label`; false when there is none.
    bool click(const QString& label) {
        auto call = [&](const QString& method, const QVariantList& arguments) {
            auto message = QDBusMessage::createMethodCall(item, "/MenuBar", "com.canonical.dbusmenu", method);
            message.setArguments(arguments);
            return QDBusConnection::sessionBus().call(message);
        };
        call("AboutToShow", {0});
        auto reply = call("GetLayout", {0, -1, QStringList{}});
        if (reply.arguments().size() < 2)
            return false;
        std::function<int(const QDBusArgument&)> find = [&](const QDBusArgument& node) {
            int id = 0;
            QVariantMap properties;
            QVariantList children;
            node.beginStructure();
            node >> id >> properties >> children;
            node.endStructure();
            if (properties.value("label").toString() == label)
                return id;
            for (QVariant child : children) {
                if (child.canConvert<QDBusVariant>())
                    child = child.value<QDBusVariant>().variant();
                if (int found = find(child.value<QDBusArgument>()); found > 0)
                    return found;
            }
            return 0;
        };
        const int id = find(reply.arguments().at(1).value<QDBusArgument>());
        return id > 0 && call("Event", {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u}).type() !=
                             QDBusMessage::ErrorMessage;
    }
    bool ok = false;
    QString item;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto missing = desktop::missingRig())
            GTEST_SKIP() << *missing;
    }
    testsupport::TempDir dir;
};

TEST_F(EndToEnd, SpeechArrivesInAQtFieldAfterItsWordAndEveryClipboardFormatComesBack) {
    testsupport::Process clipboard({RUVEX_FIXTURE_DIR "/fixture_clipboard_owner"}, {{"QT_QPA_PLATFORM=xcb"}});
    ASSERT_TRUE(clipboard.waitForLine([](const std::string& line) { return line == "ready"; }, 10));
    const auto before = selectionContents();
    ASSERT_EQ(before.at("image/png").substr(0, 4), "\x89PNG");
    TrayProgram tray(tones::modelDirectory());
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    // The program turns on the desktop's accessibility switch, without which a Qt field started
    // afterwards would not tell the character before its caret (and so the leading space).
    ASSERT_TRUE(pumpUntil([] { return platform::lnx::ToolkitAccessibility::enabled() == true; }));
    TextTarget target(false, false);
    target.setText("Слово");

    ASSERT_TRUE(tray.dictate(twoPieces(dir)));
    const std::string expected = "Слово " + spoken;
    EXPECT_EQ(target.waitForText(expected, 30), expected);
    EXPECT_TRUE(desktop::waitForFocus("fixture_text_target")) << "the pill took the focus";
    // Text, HTML, a PNG and all 256 byte values come back byte for byte, under the same targets.
    EXPECT_TRUE(pumpUntil([&] { return selectionContents() == before; }, 10));

    // A tap shorter than the minimum hold says nothing; silence says "Не расслышал".
    const std::size_t lines = tray.lines().size();
    runTool({"xdotool", "keydown", "108", "keyup", "108"});
    ASSERT_TRUE(tones::writeWav(dir / "quiet.wav", tones::silence(0.5)));
    ASSERT_TRUE(tray.dictate(dir / "quiet.wav"));
    ASSERT_TRUE(tray.waitForLine("flash Не расслышал", lines));
    auto all = tray.lines();
    EXPECT_EQ(std::vector(all.begin() + static_cast<std::ptrdiff_t>(lines), all.end()),
              (std::vector<std::string>{"hide", "listening", "thinking", "flash Не расслышал"}));
}

TEST_F(EndToEnd, AGtkFieldGetsTheTextAndWithACyrillicLayoutAQtFieldStillDoes) {
    TrayProgram tray(tones::modelDirectory());
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    testsupport::Process zenity({"zenity", "--entry", "--title=GTK", "--text=Поле", "--entry-text=Слово"});
    ASSERT_TRUE(desktop::waitForFocus("zenity"));
    runTool({"xdotool", "key", "End"});
    ASSERT_TRUE(tray.dictate(twoPieces(dir)));
    desktop::pumpFor(2);
    runTool({"xdotool", "key", "Return"});
    EXPECT_EQ(zenity.wait(desktop::pump), 0);
    EXPECT_EQ(zenity.out(), "Слово " + spoken + "\n");

    struct Back {
        ~Back() { desktop::setKeyboardLayout("us"); }
    } back;
    desktop::setKeyboardLayout("ru,us");
    TextTarget target;
    runTool({"xdotool", "key", "--clearmodifiers", "55"});
    ASSERT_EQ(target.waitForText("м"), "м") << "the layout really is Cyrillic";
    ASSERT_TRUE(tray.dictate(twoPieces(dir)));
    EXPECT_EQ(target.waitForText("м " + spoken, 30), "м " + spoken);
}

TEST_F(EndToEnd, ATerminalGetsThePrimarySelectionWithShiftInsertAndBothSelectionsComeBack) {
    TrayProgram tray(tones::modelDirectory());
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    auto clipboardOwner = owner("в буфере");
    auto primaryOwner = owner("выделено", "primary");
    const auto typed = dir / "typed";
    testsupport::Process xterm(
        {"xterm", "-u8", "-e", "sh", "-c",
         "while read line && [ -z \"$line\" ]; do :; done; printf %s \"$line\" > '" + typed.string() + "'"},
        {{"LC_ALL=C.UTF-8"}});
    ASSERT_TRUE(desktop::waitForFocus("xterm"));
    ASSERT_TRUE(tray.dictate(twoPieces(dir)));
    // xterm fetches the selection after the key press: press Enter until a line arrives.
    ASSERT_TRUE(pumpUntil(
        [&] {
            runTool({"xdotool", "key", "Return"});
            desktop::pumpFor(0.3);
            return !xterm.running();
        },
        30));
    EXPECT_EQ(testsupport::readFile(typed), spoken);
    EXPECT_TRUE(pumpUntil([] { return selectionTarget("UTF8_STRING") == "в буфере"; }, 10));
    EXPECT_EQ(selectionTarget("UTF8_STRING", "primary"), "выделено");
}

TEST_F(EndToEnd, TheTrayMenuOpensTheDictionaryWhoseNewWordsApplyToTheNextDictationAndQuits) {
    TrayPanel panel;
    ASSERT_TRUE(panel.ok);
    TrayProgram tray(tones::modelDirectory());
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    ASSERT_TRUE(pumpUntil([&] { return !panel.item.isEmpty(); })) << "no tray item registered";
    ASSERT_TRUE(panel.click("Словарь…"));

    // The editor opens with the keyboard focus in its text: replace it through the clipboard, save.
    ASSERT_TRUE(desktop::waitForFocus("ruvex-voice"));
    QGuiApplication::clipboard()->setText(QStringLiteral("# Мой словарь\nкаша\nмягких → свежих\n"));
    runTool({"xdotool", "key", "ctrl+a", "ctrl+v"});
    desktop::pumpFor(0.3);
    const std::size_t lines = tray.lines().size();
    runTool({"xdotool", "key", "ctrl+s"});
    ASSERT_TRUE(tray.waitForLine("flash Словарь сохранен", lines));
    // A new term reloads the engine with it; dictation goes on with the new one.
    ASSERT_TRUE(tray.waitForLine("engine loaded", lines));
    EXPECT_EQ(testsupport::readFile(tray.dataHome() / "Ruvex Voice" / "terms.txt"), "каша\n");
    TextTarget target;
    ASSERT_TRUE(tray.dictate(twoPieces(dir)));
    const std::string expected = "Съешь же ещё этих свежих французских булок да выпей чаю";
    EXPECT_EQ(target.waitForText(expected, 30), expected);

    ASSERT_TRUE(panel.click("Выйти"));
    EXPECT_EQ(tray.process().wait(desktop::pump), 0);
}

TEST_F(EndToEnd, AHungOrKilledSoundServerIsAMessageAndTheNextPressWorksOnceItIsBack) {
    // A server of the test's own, like the rig's: killing it leaves the rig's alone.
    const auto socket = dir / "pulse";
    testsupport::ScopedEnv pulse("PULSE_SERVER", "unix:" + socket.string());
    auto server = soundServer(socket);
    tones::Samples speech = tones::phrase(firstPiece);
    tones::append(speech, tones::silence(0.5));
    const auto audio = dir / "first.wav";
    ASSERT_TRUE(tones::writeWav(audio, speech));
    const std::string heard = "Съешь же ещё этих мягких";
    TrayProgram tray(tones::modelDirectory());
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    TextTarget target;
    kill(server->pid(), SIGSTOP);
    std::size_t lines = tray.lines().size();
    desktop::key(108, true);
    const bool said = tray.waitForLine("flash Нет доступа к микрофону", lines, 30);
    desktop::key(108, false);
    kill(server->pid(), SIGCONT);
    EXPECT_TRUE(said);
    ASSERT_TRUE(tray.dictate(audio));
    EXPECT_EQ(target.waitForText(heard, 30), heard);

    // Killed while the user speaks: what was heard is pasted, the pill says why and goes.
    lines = tray.lines().size();
    desktop::key(108, true);
    ASSERT_TRUE(tray.waitForLine("listening", lines));
    runTool({"paplay", "--device=vmic_out", audio.string()});
    server.reset();
    const bool told = tray.waitForLine("flash Микрофон отключился", lines, 30);
    desktop::key(108, false);
    ASSERT_TRUE(told);
    EXPECT_EQ(target.waitForText(heard + " " + heard, 30), heard + " " + heard);
    auto all = tray.lines();
    EXPECT_EQ(std::vector(all.begin() + static_cast<std::ptrdiff_t>(lines), all.end()),
              (std::vector<std::string>{"listening", "thinking", "hide", "flash Микрофон отключился"}));
    server = soundServer(socket);
    ASSERT_TRUE(tray.dictate(audio));
    EXPECT_EQ(target.waitForText(heard + " " + heard + " " + heard, 30), heard + " " + heard + " " + heard);
}

TEST_F(EndToEnd, TheAIStepUsesALocalServerOrTheKeyringsKeyAndFallsBackToTheLocalTextWhenLateOrKeyless) {
    // However it ends, the rig's keyring is left running, empty and unlocked, for the scenarios after this.
    struct Back {
        ~Back() {
            std::filesystem::remove_all(std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "keyrings");
            runTool({"sh", "-c",
                     "echo rig | gnome-keyring-daemon --replace --unlock --components=secrets "
                     "--control-directory=\"$XDG_RUNTIME_DIR/keyring\" >/dev/null 2>&1"});
        }
    } back;
    testsupport::LoopbackServer service;
    service.setRespond(testsupport::LoopbackServer::reply("Переписано сервисом."));
    testsupport::run({"secret-tool", "clear", "service", "app.ruvex.voice", "account", "deepseek"});
    // Speech with a slip in it, which asks for a correction where no style rewrites.
    tones::Samples slip = tones::phrase("встреча в пять, нет, в шесть");
    tones::append(slip, tones::silence(0.5));
    ASSERT_TRUE(tones::writeWav(dir / "slip.wav", slip));
    const std::string local = "Встреча в пять, нет, в шесть";
    {
        // The settings name the server and its model; no key is stored.
        TrayProgram tray(tones::modelDirectory(), true, {"RUVEX_VOICE_AI_URL"});
        const std::string server = R"("aiURL": ")" + service.url() + R"(", "aiModel": "local-model")";
        testsupport::writeFile(tray.configHome() / "Ruvex Voice" / "settings.json",
                               R"({"onboardingDone": true, "style": "business", )" + server + "}");
        ASSERT_TRUE(tray.waitForLine("engine loaded"));
        TextTarget target;
        ASSERT_TRUE(tray.dictate(dir / "slip.wav"));
        EXPECT_EQ(target.waitForText("Переписано сервисом.", 40), "Переписано сервисом.");
        ASSERT_EQ(service.chatRequests().size(), 1u);
        EXPECT_EQ(service.chatRequests()[0].authorization, "");
        EXPECT_NE(service.chatRequests()[0].body.find(R"("model":"local-model")"), std::string::npos);

        // A correction answered after its bound: the text as spoken goes in, and nothing later.
        testsupport::writeFile(tray.configHome() / "Ruvex Voice" / "settings.json",
                               R"({"onboardingDone": true, )" + server + "}");
        service.setRespond(service.held(testsupport::LoopbackServer::reply("Встреча в шесть.")));
        ASSERT_TRUE(tray.dictate(dir / "slip.wav"));
        const std::string late = "Переписано сервисом. " + local;
        EXPECT_EQ(target.waitForText(late, 30), late);
        service.setRespond(testsupport::LoopbackServer::reply("Встреча в шесть."));
        service.release();
        // Requests go one after another: a late answer would have been pasted before this one.
        ASSERT_TRUE(tray.dictate(dir / "slip.wav"));
        EXPECT_EQ(target.waitForText(late + " Встреча в шесть.", 30), late + " Встреча в шесть.");
        EXPECT_EQ(service.chatRequests().size(), 3u);
    }

    ASSERT_EQ(
        testsupport::run(
            {"secret-tool", "store", "--label=DeepSeek", "service", "app.ruvex.voice", "account", "deepseek"}, "sk-e2e")
            .status,
        0);
    service.setRespond(testsupport::LoopbackServer::reply("Переписано с ключом."));
    {
        TrayProgram tray(tones::modelDirectory(), true, {"RUVEX_VOICE_AI_URL=" + service.url()});
        testsupport::writeFile(tray.configHome() / "Ruvex Voice" / "settings.json",
                               R"({"onboardingDone": true, "style": "business"})");
        ASSERT_TRUE(tray.waitForLine("engine loaded"));
        TextTarget target;
        ASSERT_TRUE(tray.dictate(dir / "slip.wav"));
        EXPECT_EQ(target.waitForText("Переписано с ключом.", 40), "Переписано с ключом.");
        ASSERT_EQ(service.chatRequests().size(), 4u);
        EXPECT_EQ(service.chatRequests()[3].authorization, "Bearer sk-e2e");
    }

    // The keyring daemon killed before the program reads the key, for a service that needs one: the
    // rewrite says there is no key and the text goes in as spoken. The name is not this machine's to the
    // program, yet curl resolves it to 127.0.0.1 itself, where nothing listens: nothing leaves the machine.
    kill(static_cast<pid_t>(std::stol(std::getenv("RUVEX_RIG_KEYRING_PID"))), SIGKILL);
    TrayProgram tray(tones::modelDirectory(), true, {"RUVEX_VOICE_AI_URL=https://ai.localhost:9"});
    testsupport::writeFile(tray.configHome() / "Ruvex Voice" / "settings.json",
                           R"({"onboardingDone": true, "style": "business"})");
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    TextTarget target;
    ASSERT_TRUE(tray.dictate(dir / "slip.wav"));
    EXPECT_TRUE(tray.waitForLine("flash Нет ключа ИИ: вставил как сказано", 0, 30));
    EXPECT_EQ(target.waitForText(local, 30), local);
}

// The character before the caret, read through the accessibility bus as the paste reads it: Qt counts
// UTF-16 units and GTK code points, a selection's start decides, a stopped program answers nothing.
TEST_F(EndToEnd, TheCaretProbeReadsQtAndGtkFieldsAtTheirOwnOffsets) {
    platform::x11::X11FocusedWindow focus;
    platform::lnx::AtspiCaretProbe caret([&]() -> std::optional<int> {
        auto window = focus.identify();
        return window ? window->processId : std::nullopt;
    });
    auto answers = [&](const std::optional<std::string>& before) {
        return pumpUntil([&] { return caret.characterBeforeCaret() == before; });
    };
    TextTarget qt(true);
    const std::tuple<std::string, int, int, std::string> cases[] = {
        {"", 0, 0, ""},    {"слово", 5, 0, "о"}, {"один два", 5, 3, " "},
        {"a😀", 3, 0, "😀"}, {"😀b", 2, 0, "😀"},    {"строка\n", 7, 0, "\n"},
    };
    for (const auto& [text, start, length, before] : cases) {
        qt.setText(text);
        qt.select(start, length);
        EXPECT_TRUE(answers(before)) << text;
    }
    kill(qt.process().pid(), SIGSTOP);
    auto stopped = caret.characterBeforeCaret();
    kill(qt.process().pid(), SIGCONT);
    EXPECT_EQ(stopped, std::nullopt);

    testsupport::Process zenity({"zenity", "--entry", "--text=Поле", "--entry-text=😀b"});
    ASSERT_TRUE(desktop::waitForFocus("zenity"));
    runTool({"xdotool", "key", "End", "Left"});
    EXPECT_TRUE(answers("😀")) << "GTK counts code points";
}

TEST_F(EndToEnd, ADamagedModelLeavesTheProgramRunningSaysSoAndASecondCopyStepsAside) {
    tones::copyModel(dir / "model");
    testsupport::writeFile(dir / "model" / "encoder.int8.onnx", "not a model");
    TrayProgram tray(dir / "model");
    ASSERT_TRUE(tray.waitForLine("engine failed: Модель речи не загрузилась"));
    const std::size_t lines = tray.lines().size();
    runTool({"xdotool", "keydown", "108", "keyup", "108"});
    EXPECT_TRUE(tray.waitForLine("flash Модель речи не загрузилась", lines));

    auto second = testsupport::run({RUVEX_VOICE_PROGRAM});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.err, "Ruvex Voice уже запущен.\n");
    EXPECT_TRUE(tray.process().running());
}

TEST_F(EndToEnd, TheFirstStartOpensTheFirstRunWindowAndSaysWhatTheModelFolderLacks) {
    std::filesystem::create_directories(dir / "empty");
    TrayProgram tray(dir / "empty", false);
    ASSERT_TRUE(desktop::waitForFocus("ruvex-voice")) << "the first-run window did not open";
    const std::string lacking =
        "flash Модель речи не скачалась: в папке " + (dir / "empty").string() + " нет файлов модели";
    ASSERT_TRUE(tray.waitForLine(lacking));
    const std::size_t lines = tray.lines().size();
    runTool({"xdotool", "keydown", "108", "keyup", "108"});
    EXPECT_TRUE(tray.waitForLine("flash Модель речи не скачалась: повторите из меню", lines));
    EXPECT_EQ(tray.lines().front(), lacking) << "no download is announced for a folder the user brings";
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QGuiApplication> application;
    if (std::getenv("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        application = std::make_unique<QGuiApplication>(argc, argv);
        // The test's own clipboard is answered from Qt's event loop while the helpers wait.
        desktop::setPump([](double seconds) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(seconds * 1000));
        });
    }
    return RUN_ALL_TESTS();
}
