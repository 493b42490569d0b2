#pragma once

#include "fakes/FakeRecognizer.h"
#include "speech/Engine.h"
#include "speech/Model.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace fakes {

/// A model whose state the test sets and whose load hands out fake recognisers. load() runs on the
/// loading thread: what it records is read by the test only after the load's result has arrived.
class FakeModel : public speech::Model {
public:
    const speech::ModelState& state() const override { return current; }
    bool isReady() const override { return current.kind == speech::ModelState::Kind::ready; }
    void download() override { ++downloads; }
    std::filesystem::path directory() const override { return "/models/test"; }
    bool verify() override { return intact; }
    std::shared_ptr<speech::Recognizer> load(const std::optional<std::filesystem::path>& terms) override {
        loads.push_back(terms);
        if (!intact || failLoad)
            throw speech::Engine::Failure(speech::Engine::Failure::load);
        made = std::make_shared<FakeRecognizer>();
        made->textFor = textFor;
        return made;
    }

    speech::ModelState current = speech::ModelState::ready();
    std::atomic<bool> intact = true;
    std::atomic<bool> failLoad = false;
    int downloads = 0;
    /// The terms file of each load, in order.
    std::vector<std::optional<std::filesystem::path>> loads;
    /// Given to every recogniser made (its default when unset: see FakeRecognizer).
    std::function<std::string(const std::vector<float>&)> textFor;
    /// The last recogniser made.
    std::shared_ptr<FakeRecognizer> made;
};

} // namespace fakes
