#pragma once

#include <string>

namespace app {

/// The text of `ruvex-voice --help`: the modes and the environment variables.
std::string helpText();

} // namespace app
