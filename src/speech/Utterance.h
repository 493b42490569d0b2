#pragma once

#include "core/MainQueue.h"
#include "platform/AudioSource.h"
#include "speech/Recognizer.h"

#include <functional>
#include <memory>
#include <string>

namespace speech {

class DictationSession;
class Recorder;

/// One key press's speech, from the first sample to the joined text. Captures the microphone with a
/// Recorder and hands every chunk to a DictationSession on the shared engine, which recognises the
/// pieces while the user still speaks. Finishing keeps the one order that makes the text whole:
/// the capture stops, the audio queue hands over every chunk captured before the stop, the session
/// decodes its last piece, and only then is the text delivered.
///
/// Created, started, finished or cancelled and destroyed on the main thread. Destroying it waits
/// for the audio queue (a few chunks at most); the engine's work goes on without it.
class Utterance {
public:
    /// Schedules the engine's warm-up decode at once, so that it runs while the user speaks.
    Utterance(core::MainQueue& main, std::shared_ptr<Recognizer> engine,
              std::unique_ptr<platform::AudioSource> microphone);
    ~Utterance();
    Utterance(const Utterance&) = delete;
    Utterance& operator=(const Utterance&) = delete;

    /// Begins capture. Throws Recorder::Failure (what() is the text to show) when it cannot; the
    /// session is then abandoned.
    void start();

    /// Ends the capture; `completion` runs once, on the engine's queue, with the pieces' texts joined
    /// ("" when nothing was heard), after every piece has been decoded. Call once, after start().
    void finish(std::function<void(std::string)> completion);

    /// Ends the capture and abandons the recognition: nothing more is decoded, and a finish already
    /// asked for delivers "".
    void cancel();

    /// Called on the main thread with each captured chunk's level (root mean square). Set before start().
    std::function<void(float)> onLevel;
    /// Called on the main thread when the microphone went away during capture; what was heard before
    /// is kept, and finish() still turns it into text. Set before start().
    std::function<void()> onLost;

private:
    std::shared_ptr<DictationSession> session;
    // Declared last: destroyed first, so its queue has handed everything to the session by then.
    std::unique_ptr<Recorder> recorder;
};

} // namespace speech
