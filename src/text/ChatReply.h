#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The pure parts of talking to a chat-completions service: reading its reply and deciding where
/// the key may be sent. Callable from any thread.
namespace text::ChatReply {

/// The answer in a reply of status `status` with body `body`: the first choice's message content,
/// without control characters, passed through `Polisher::unquoted`. Nothing unless the status is
/// 200 and the body is a JSON object whose "choices" is a non-empty array of objects, the first
/// holding a "message" object with a string "content", and the answer is not empty.
///
/// The answer is pasted where the user's cursor stands, a terminal included, where escape
/// sequences and other controls would act: every C0 and C1 control character is removed except
/// the tab and the line feed; a carriage return (alone or before a line feed) and U+0085 become
/// one line feed.
std::optional<std::string> answer(long status, std::string_view body);

/// `text` with control characters removed as described for `answer`. Valid UTF-8 stays valid.
std::string withoutControls(std::string_view text);

/// True when a request to the service at `baseURL` may be sent, with the key when one is stored:
/// an https address of any host, or an http address of this machine (see isLoopback), where
/// neither the text nor the key crosses a network. The address is read by the same parser the
/// transfer uses, so the host checked is the host contacted.
bool mayCarryKey(std::string_view baseURL);

/// True when `baseURL` is an http or https address of this machine: localhost, 127.0.0.0/8 or ::1.
bool isLoopback(std::string_view baseURL);

} // namespace text::ChatReply
