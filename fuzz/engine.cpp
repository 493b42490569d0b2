// The oracle: the real recogniser created from the tone model with one part damaged, then
// decoding. Whatever the damage, the program's checks must either refuse the model (the engine
// fails to load) or let through only what the library can run: the process never ends inside
// the library, and every piece decodes to valid UTF-8 or to nothing.
// Input: one byte choosing the part (0 encoder, 1 decoder, 2 joiner, 3 tokens.txt, 4 the bpe
// vocabulary, 5 the terms file; 4 and 5 create the engine with terms), one byte choosing how (even:
// byte patches, as (offset low, offset high, value) triples, to the real file; odd: the rest of the
// input is the whole file), then the patches or the file.
//
// The library ends the process with _Exit on some damage, which no handler sees: with
// RUVEX_FUZZ_IN_FLIGHT set, each input is written there first and removed after it ran, so the
// fuzzing script finds the input that ended the process.

#include "FuzzSupport.h"

#include "Tones.h"
#include "speech/Engine.h"

#include <cstdlib>

namespace {

const char* const parts[] = {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx",
                             "tokens.txt",        "bpe.vocab",    "terms.txt"};

const std::filesystem::path& model() {
    static const std::filesystem::path folder = fuzz::scratch() / "model";
    return folder;
}

std::string originals[6];

const std::string& original(int part) {
    return originals[part];
}

std::string damaged(int part, bool whole, std::string_view rest) {
    if (whole) {
        return std::string(rest);
    }
    std::string file = original(part);
    for (size_t i = 0; i + 2 < rest.size() && i < 3 * 64; i += 3) {
        size_t offset =
            static_cast<unsigned char>(rest[i]) | static_cast<size_t>(static_cast<unsigned char>(rest[i + 1])) << 8;
        file[offset % file.size()] = rest[i + 2];
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tones::copyModel(model());
    fuzz::writeFile(model() / "terms.txt", "дон\nпривет\n");
    for (int part = 0; part < 6; ++part) {
        originals[part] = fuzz::readFile(model() / parts[part]);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const char* inFlight = std::getenv("RUVEX_FUZZ_IN_FLIGHT");
    if (inFlight != nullptr) {
        fuzz::writeFile(inFlight, fuzz::text(data, size));
    }
    const int part = data[0] % 6;
    const bool withTerms = part >= 4;
    fuzz::writeFile(model() / parts[part], damaged(part, data[1] % 2 == 1, fuzz::text(data + 2, size - 2)));
    setenv("RUVEX_VOICE_BPE_VOCAB", (model() / "bpe.vocab").c_str(), 1);

    try {
        speech::Engine engine(model(), withTerms ? std::optional(model() / "terms.txt") : std::nullopt);
        static const auto phrase = tones::phrase("привет мир");
        for (const auto& piece : {tones::silence(0.3), phrase}) {
            std::string text;
            engine.queue().sync([&] { text = engine.transcribe(piece); });
            fuzz::check(fuzz::isUtf8(text), "a decoded piece is valid UTF-8");
        }
    } catch (const speech::Engine::Failure&) {
        // Refused: what the checks are for.
    }

    fuzz::writeFile(model() / parts[part], original(part));
    if (inFlight != nullptr) {
        std::filesystem::remove(inFlight);
    }
    return 0;
}
