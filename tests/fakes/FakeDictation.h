#pragma once

#include "app/DictationPorts.h"

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

/// Recording fakes of the dictation controller's ports. Everything the controller asks of them is
/// written to one shared log, so a test reads the whole story in order.
namespace fakes {

using Log = std::vector<std::string>;

class FakeOverlay : public app::OverlayPort {
public:
    explicit FakeOverlay(Log& log) : log(log) {}
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
    Log& log;
};

/// A session that records what it is fed and keeps its finish completion for the test to call.
class FakeSession : public app::SessionPort {
public:
    explicit FakeSession(Log& log) : log(log) {}
    void feed(const std::vector<float>& samples) override { fed += samples.size(); }
    void finish(std::function<void(std::string)> then) override {
        log.push_back("finish");
        completion = std::move(then);
    }
    void cancel() override { log.push_back("cancel session"); }

    std::size_t fed = 0;
    std::function<void(std::string)> completion;

private:
    Log& log;
};

class FakeRecogniser : public app::Recogniser {
public:
    FakeRecogniser(Log& log, std::string name = "engine") : log(log), name(std::move(name)) {}
    std::shared_ptr<app::SessionPort> makeSession() override {
        auto session = std::make_shared<FakeSession>(log);
        sessions.push_back(session);
        return session;
    }
    std::vector<std::shared_ptr<FakeSession>> sessions;

private:
    Log& log;

public:
    const std::string name;
};

/// A recorder whose stop completion the test runs, as the audio queue would, with runStop().
class FakeRecorder : public app::RecorderPort {
public:
    struct Shared {
        bool failStart = false;
        std::vector<FakeRecorder*> live;
        std::vector<std::function<void()>> stops; // pending stop completions, oldest first
    };
    FakeRecorder(Log& log, Shared& shared) : log(log), shared(shared) { shared.live.push_back(this); }
    ~FakeRecorder() override { std::erase(shared.live, this); }
    void start() override {
        if (shared.failStart)
            throw std::runtime_error("Нет доступа к микрофону");
        log.push_back("start recorder");
    }
    void stop(std::function<void()> then) override {
        log.push_back("stop recorder");
        shared.stops.push_back(std::move(then));
    }

private:
    Log& log;
    Shared& shared;
};

class FakeModels : public app::ModelPort {
public:
    app::ModelStatus state() const override { return status; }
    bool isReady() const override { return status.kind == app::ModelStatus::Kind::ready; }
    void download() override { ++downloads; }
    std::filesystem::path directory() const override { return "/models/test"; }
    bool verify() override {
        ++verifications;
        return intact;
    }

    app::ModelStatus status{app::ModelStatus::Kind::ready, 0, ""};
    bool intact = true;
    int downloads = 0;
    int verifications = 0;
};

} // namespace fakes
