#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform::lnx {

/// Launch at login through the XDG autostart convention: the desktop starts every application that has
/// an enabled entry in $XDG_CONFIG_HOME/autostart/ (or in $XDG_CONFIG_DIRS/autostart/, unless the user's
/// own entry of the same name hides it). Stateless; callable from any thread.
class Autostart {
public:
    /// Raised by setEnabled; what() is a short Russian reason shown after "Не получилось: ".
    class Failure : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    /// The entry's file name.
    static constexpr std::string_view id = "app.ruvex.voice.desktop";

    /// $XDG_CONFIG_HOME/autostart/app.ruvex.voice.desktop, resolved at each call.
    static std::filesystem::path userFile();

    /// True when the entry that the desktop would use (the user's, else the first one in
    /// $XDG_CONFIG_DIRS) exists, parses, is neither hidden nor switched off, and its OnlyShowIn and
    /// NotShowIn let it start on $XDG_CURRENT_DESKTOP.
    static bool isEnabled();

    /// Writes the user's entry starting the running program, or removes it (writing a hiding entry when a
    /// system-wide one would still start the program). Throws Failure; nothing is changed then.
    static void setEnabled(bool enabled);

    /// The entry that starts `program`.
    static std::string entryText(const std::filesystem::path& program);

    /// `argument` as one argument of an Exec line, quoted and escaped as the desktop-entry format wants.
    static std::string execArgument(const std::string& argument);

    /// The running program: $APPIMAGE when set (the mount point changes every run), else /proc/self/exe.
    static std::filesystem::path runningProgram();
};

} // namespace platform::lnx
