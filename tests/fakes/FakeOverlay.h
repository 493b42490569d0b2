#pragma once

#include "app/DictationController.h"

#include <sstream>
#include <string>
#include <vector>

namespace fakes {

/// The pill as lines of one log ("listening", "flash <text> <seconds>", "hide", "tag <tag or ->").
class FakeOverlay : public app::OverlayPort {
public:
    explicit FakeOverlay(std::vector<std::string>& log) : log(log) {}
    void show(app::Pill pill) override { log.push_back(pill == app::Pill::listening ? "listening" : "thinking"); }
    void flash(const std::string& text, double seconds) override {
        std::ostringstream line;
        line << "flash " << text << " " << seconds;
        log.push_back(line.str());
    }
    void hide() override { log.push_back("hide"); }
    void level(float value) override { levels.push_back(value); }
    void setTag(const std::optional<std::string>& tag) override { log.push_back("tag " + tag.value_or("-")); }

    std::vector<float> levels;

private:
    std::vector<std::string>& log;
};

} // namespace fakes
