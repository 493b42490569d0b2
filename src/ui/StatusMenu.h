#pragma once

#include "platform/Trust.h"
#include "speech/Model.h"
#include "text/Presets.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QMenu;

namespace ui {

/// The tray menu, built from scratch each time it is about to open from a snapshot of the program's
/// state. It keeps no state of its own; what its items do belongs to the controller. Main thread only.
class StatusMenu {
public:
    /// What the menu shows, read once per build.
    struct MenuState {
        std::string keyShort; ///< the trigger key's short name ("правый Alt")
        bool engineLoaded = false;
        std::optional<std::string> engineError;
        speech::ModelState model;
        bool trusted = true;
        /// Why the trigger key or the paste may not work, in the desktop's terms.
        platform::Access access;
        bool hasKey = false;
        /// The AI features can run: a key is stored, or the service is a server on this machine.
        bool aiReady = false;
        text::Preset preset;
        bool aiCleanup = true;
        std::size_t dictionaryCount = 0;  ///< terms + replacements of the dictionary in force
        std::vector<std::string> history; ///< newest first
        bool loginEnabled = false;
    };

    /// What the items call.
    struct MenuActions {
        std::function<void()> toggleAI, toggleEnglish, editKey, editService, openVocabulary, retryDownload, toggleLogin,
            openOnboarding, quit;
        /// With the chosen style's raw value.
        std::function<void(const std::string&)> chooseStyle;
        /// With the full, unaltered history entry.
        std::function<void(const std::string&)> copyRecent;
    };

    /// Empties `menu` (and drops the submenus of the last build) and fills it with every item in order.
    static void build(QMenu& menu, const MenuState& state, const MenuActions& actions);

    /// One line saying why dictation cannot work as it should: the trigger key cannot be heard, or
    /// nothing can paste. None when all is well. Shown as the menu's header and in the pill.
    static std::optional<std::string> keyboardProblem(const platform::Access& access);

    /// A history entry as a menu title: every run of line breaks folded into one space, empty lines
    /// dropped, and cut to 60 user-perceived characters followed by "…".
    static QString recentTitle(const std::string& entry);
};

} // namespace ui
