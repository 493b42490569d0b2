#pragma once

#include "core/Defaults.h"
#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "text/AiService.h"
#include "text/Keychain.h"
#include "text/Presets.h"
#include "text/Vocabulary.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

/// Turns the joined text of one dictation into the text that is inserted: local cleanup and the
/// dictionary replacements always, then, by preset, an AI rewrite or the correction of a spoken
/// self-correction by the chat-completions service of the settings (DeepSeek's by default). Every
/// failure of the service yields the local text.
///
/// Owned by the application. Requests run one after another on the polisher's own serial queue
/// ("ruvex.voice.ai"), which is joined when the polisher goes; the transfer's timeout bounds that
/// wait. Completions are posted to the main queue, which must outlive the polisher.
class Polisher {
public:
    /// Request timeout of a correction, in seconds: the whole transfer, connection included.
    static constexpr double aiTimeout = 3.0;
    /// Request timeout of a rewrite, in seconds.
    static constexpr double rewriteTimeout = 30.0;
    /// (final text, true when the preset asked for an AI rewrite that did not happen).
    using Completion = std::function<void(std::string, bool)>;

    /// What a check of a service found: whether it answered as a chat service, and a Russian line
    /// saying so (the answer, or what went wrong).
    struct CheckResult {
        bool answered = false;
        std::string says;
    };

    /// A polisher posting its completions to `main`, reading the key from `keychain` (both must
    /// outlive it) and the service from `settings` at each dictation.
    Polisher(core::MainQueue& main, Keychain& keychain, core::Defaults settings);
    Polisher(const Polisher&) = delete;
    Polisher& operator=(const Polisher&) = delete;

    /// Polishes `text` with `preset`; `useAI` is the user's "correct slips through the AI" switch.
    /// Cleanup, replacements, the self-correction test and the key lookup run on the calling
    /// thread; `completion` is called exactly once, later, on the main queue, never from inside
    /// this call. Callable from any thread.
    void polish(const std::string& text, const Preset& preset, bool useAI, const Vocabulary& vocabulary,
                Completion completion);

    /// The system prompt of a rewrite.
    static std::string prompt(const Preset& preset, const std::vector<std::string>& terms);

    /// The system prompt of a correction.
    static const std::string& correctionPrompt();

    /// `text` without white space around it and without wrapping «», "" or “” quotes.
    static std::string unquoted(std::string_view text);

    /// Sends one tiny request to `service`, with the stored key if any, through the same path as a
    /// dictation's, and tells on the main queue whether the service answered. Callable from any thread.
    void check(const AiService& service, std::function<void(CheckResult)> completion);

private:
    using Answer = std::function<void(std::optional<std::string>)>;
    using Key = std::optional<std::string>;

    /// Sends one rewrite of `text` in the preset's style (or as an English post) and reports the
    /// accepted answer, or nothing, on the request queue.
    void rewrite(const AiService& service, const Key& key, const std::string& text, const Preset& preset,
                 const std::vector<std::string>& terms, Answer completion);

    /// Queues one request to `service`, with "Authorization" only when there is a key; reports the
    /// answer passed through `unquoted` (nothing when empty or when the reply is not usable) on the
    /// request queue.
    void ask(const AiService& service, const Key& key, const std::string& system, const std::string& text,
             double temperature, double timeout, Answer completion);

    core::MainQueue& main;
    Keychain& keychain;
    const core::Defaults settings;
    // Declared last: joined first, while everything its requests use still exists.
    core::SerialQueue requests{"ruvex.voice.ai"};
};

} // namespace text
