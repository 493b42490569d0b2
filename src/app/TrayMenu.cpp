// The tray menu's contents and actions.
#include "app/Adapters.h"
#include "app/AppDelegate.h"
#include "core/Defaults.h"
#include "platform/linux/Autostart.h"
#include "text/Keychain.h"
#include "ui/KeyDialog.h"
#include "ui/StatusMenu.h"

#include <QClipboard>
#include <QGuiApplication>

namespace app {

void AppDelegate::buildMenu(QMenu& menu) {
    ui::StatusMenu::MenuState state;
    state.keyShort = std::string(TriggerKey::saved().shortName());
    state.engineLoaded = controller->engine != nullptr;
    state.engineError = controller->engineError;
    state.model = storeState(models->state());
    state.trusted = trust->isTrusted();
    state.hasKey = text::Keychain::aiKey().has_value();
    state.preset = text::Preset::saved();
    state.aiCleanup = controller->aiCleanup();
    state.dictionaryCount = controller->vocabulary.terms.size() + controller->vocabulary.replacements.size();
    state.history = controller->history;
    state.loginEnabled = platform::lnx::Autostart::isEnabled();

    ui::StatusMenu::MenuActions actions;
    actions.toggleAI = [this] {
        if (text::Keychain::aiKey()) {
            core::Defaults::standard().setBoolean("aiCleanup", !controller->aiCleanup());
            return;
        }
        // Without a key the switch asks for one first, and is then on.
        if (requireKey())
            core::Defaults::standard().setBoolean("aiCleanup", true);
    };
    actions.chooseStyle = [](const std::string& raw) {
        const auto style = text::styles::fromRawValue(raw);
        if (!style || (*style != text::Style::asSpoken && !requireKey()))
            return;
        text::styles::setSaved(*style);
    };
    actions.toggleEnglish = [] {
        const bool english = text::Preset::saved().english;
        if (!english && !requireKey())
            return;
        text::Preset::saveEnglish(!english);
    };
    actions.editKey = [] { ui::KeyDialog::editKey(); };
    actions.openVocabulary = [this] { vocabularyWindow.show(); };
    actions.retryDownload = [this] { models->download(); };
    actions.copyRecent = [](const std::string& entry) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(entry));
    };
    actions.toggleLogin = [this] {
        try {
            platform::lnx::Autostart::setEnabled(!platform::lnx::Autostart::isEnabled());
        } catch (const std::exception& failure) {
            overlayPort->flash(std::string("Не получилось: ") + failure.what(), 2.4);
        }
    };
    actions.openOnboarding = [this] { onboarding.show(); };
    actions.quit = [this] { quit(); };
    ui::StatusMenu::build(menu, state, actions);
}

} // namespace app
