#pragma once

#include "core/RunLoop.h"
#include "text/Polisher.h"
#include "text/Presets.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace app::cli {

/// The command-line mode `ruvex-voice --polish ARGS...`: polishes each line of standard input
/// under the presets named by the arguments and prints every result with its time and whether
/// the AI rewrite was left out. Runs on the thread that owns `loop`, which it turns while it waits.
class PolishCheck {
public:
    /// One accepted argument.
    struct Configuration {
        std::string name; ///< the argument, used as the label
        text::Preset preset;
        bool useAI = false;
    };

    PolishCheck() = delete;

    /// The configuration an argument names: "ai", a style's raw value, or "en-" and a style's raw
    /// value; nothing for anything else.
    static std::optional<Configuration> configuration(const std::string& argument);

    /// Runs the check on `in` and `out` with the key of `keychain`, after a line naming `service`
    /// (the one `polisher` uses); returns at the end of the input, or at once when the service needs
    /// a key and none is stored (0) or its address is refused (1). `loop` must be the queue
    /// `polisher` posts to. The exit status.
    static int run(core::RunLoop& loop, text::Keychain& keychain, text::Polisher& polisher,
                   const text::AiService& service, const std::vector<std::string>& arguments, std::istream& in,
                   std::ostream& out);
};

} // namespace app::cli
