#pragma once

#include "core/MainQueue.h"

#include <memory>
#include <string>

namespace app {

/// The text inserter with the desktop objects it borrows: the caret probe on the accessibility
/// bus, the Qt clipboard, the XTest key sender and the focused window's class. Main thread only.
class Output {
public:
    explicit Output(core::MainQueue& main);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    /// Pastes `text` where the text cursor stands.
    void insert(const std::string& text);

private:
    struct Parts;
    std::unique_ptr<Parts> parts;
};

} // namespace app
