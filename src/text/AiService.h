#pragma once

#include "core/Defaults.h"

#include <optional>
#include <string>

namespace text {

/// Which chat-completions service the AI step talks to: DeepSeek's cloud by default, or any server
/// that speaks the same protocol (llama.cpp, Ollama, LM Studio, vLLM). A value; the polisher, the
/// service dialog, --polish and --diagnose all read it the same way.
///
/// A server on this machine needs no key, and plain http reaches only such a server: anywhere
/// else the text (and the key) would cross the network in clear.
struct AiService {
    static constexpr const char* deepSeekURL = "https://api.deepseek.com";
    static constexpr const char* deepSeekModel = "deepseek-chat";

    std::string baseURL = deepSeekURL; ///< requests go to its "/chat/completions"
    std::string model = deepSeekModel; ///< the "model" of every request

    bool operator==(const AiService&) const = default;

    /// The service in force: "aiURL" and "aiModel" of `settings` (DeepSeek's when absent or empty),
    /// each overridden by RUVEX_VOICE_AI_URL or RUVEX_VOICE_AI_MODEL when set and not empty.
    static AiService saved(const core::Defaults& settings);
    /// The service the settings alone name, without the environment: what the dialog edits.
    static AiService stored(const core::Defaults& settings);
    /// Stores `service` in `settings`; DeepSeek's own removes both keys. False when not written.
    static bool save(core::Defaults& settings, const AiService& service);

    /// The chat-completions address: the base URL without trailing slashes + "/chat/completions".
    std::string endpoint() const;
    /// True for a server on this machine (localhost, 127.0.0.0/8, ::1): it is used without a key.
    bool onThisMachine() const;
    /// Why no request may go to this service, as a Russian sentence; nothing when it may: https,
    /// or http to this machine.
    std::optional<std::string> refusal() const;
    /// Whether the AI step can run: the address is allowed, and a key is stored or none is needed.
    bool available(bool keyStored) const;
    /// "<base URL>, модель <model>": which service is used, for the command-line modes.
    std::string description() const;
};

} // namespace text
