#pragma once

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
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
/// self-correction by the DeepSeek chat-completions service. Every failure of the service yields
/// the local text.
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
    /// The service used when RUVEX_VOICE_AI_URL does not name another base URL.
    static constexpr const char* defaultBaseURL = "https://api.deepseek.com";
    static constexpr const char* model = "deepseek-chat";

    /// (final text, true when the preset asked for an AI rewrite that did not happen).
    using Completion = std::function<void(std::string, bool)>;

    /// A polisher posting its completions to `main` and reading the key from `keychain`; both must
    /// outlive it.
    Polisher(core::MainQueue& main, Keychain& keychain);
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

    /// The chat-completions address: RUVEX_VOICE_AI_URL (else the default base) + "/chat/completions".
    static std::string endpoint();

private:
    using Answer = std::function<void(std::optional<std::string>)>;

    /// Sends one rewrite of `text` in the preset's style (or as an English post) and reports the
    /// accepted answer, or nothing, on the request queue.
    void rewrite(const std::string& text, const Preset& preset, const std::vector<std::string>& terms,
                 const std::string& key, Answer completion);

    /// Queues one request; reports the answer passed through `unquoted` (nothing when empty or when
    /// the reply is not usable) on the request queue.
    void ask(const std::string& system, const std::string& text, const std::string& key, double temperature,
             double timeout, Answer completion);

    core::MainQueue& main;
    Keychain& keychain;
    // Declared last: joined first, while everything its requests use still exists.
    core::SerialQueue requests{"ruvex.voice.ai"};
};

} // namespace text
