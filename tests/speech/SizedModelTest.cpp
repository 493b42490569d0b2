#include "speech/Engine.h"
#include "speech/ModelFiles.h"
#include "speech/OnnxModel.h"
#include "speech/SherpaOnnx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::TempDir;

// The generator runs here rather than in the build: the model is 230 MB and only these tests and
// the benchmarks want it.
std::filesystem::path generate(const TempDir& into) {
    auto folder = into / "sized";
    std::string command = std::string("/usr/bin/python3 ") + RUVEX_SIZED_MODEL_GENERATOR + " " + folder.string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    return folder;
}

TEST(SizedModel, HasTheRealFilesInputsOutputsSizesAndMetadataAndIsTheSameEveryTime) {
    TempDir first, repeat;
    auto model = generate(first);
    auto again = generate(repeat);
    for (const char* name :
         {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx", "tokens.txt", "emitting/joiner.onnx"}) {
        EXPECT_TRUE(readFile(model / name) == readFile(again / name)) << name;
    }
    // The sizes of the real export's files.
    for (auto [name, bytes] : std::vector<std::pair<const char*, double>>{{"encoder.int8.onnx", 224570820},
                                                                          {"decoder.onnx", 4600132},
                                                                          {"joiner.onnx", 2712896},
                                                                          {"tokens.txt", 13354}}) {
        EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(model / name)), bytes, bytes * 0.01) << name;
    }
    auto tokens = speech::ModelFiles::readTokens(model / "tokens.txt");
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->size(), 1025u);
    auto encoder = speech::OnnxModel::read(model / "encoder.int8.onnx");
    auto decoder = speech::OnnxModel::read(model / "decoder.onnx");
    auto joiner = speech::OnnxModel::read(model / "joiner.onnx");
    ASSERT_TRUE(encoder && decoder && joiner);
    EXPECT_TRUE(speech::ModelFiles::encoderFits(encoder->metadata, tokens->size()));
    // The inputs and outputs the recogniser feeds and reads, with the real export's sizes.
    EXPECT_TRUE(speech::ModelFiles::graphsFit(*encoder, *decoder, *joiner, tokens->size()));
    for (auto [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"vocab_size", "1024"}, {"pred_rnn_layers", "1"}, {"pred_hidden", "320"}, {"is_giga_am", "1"}}) {
        EXPECT_EQ(encoder->metadata[key], value) << key;
    }

    // The engine loads it and hears nothing; the emitting copy emits on (nearly) every query of every
    // one of the 25 encoder frames of a second, four times fewer than the feature frames.
    std::vector<float> second(16000);
    for (size_t i = 0; i < second.size(); ++i) {
        second[i] = 0.3f * static_cast<float>(std::sin(static_cast<double>(i) * 0.3));
    }
    speech::Engine engine(model, std::nullopt);
    std::string heard = "-";
    engine.queue().sync([&] { heard = engine.transcribe(second); });
    EXPECT_EQ(heard, "");

    std::string folder = (model / "emitting").string();
    std::string encoderFile = folder + "/encoder.int8.onnx", decoderFile = folder + "/decoder.onnx",
                joinerFile = folder + "/joiner.onnx", table = folder + "/tokens.txt";
    SherpaOnnxOfflineRecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.model_config.transducer = {encoderFile.c_str(), decoderFile.c_str(), joinerFile.c_str()};
    config.model_config.tokens = table.c_str();
    config.model_config.num_threads = 2;
    config.model_config.model_type = "nemo_transducer";
    const SherpaOnnxOfflineRecognizer* recognizer = SherpaOnnxCreateOfflineRecognizer(&config);
    ASSERT_NE(recognizer, nullptr);
    const SherpaOnnxOfflineStream* stream = SherpaOnnxCreateOfflineStream(recognizer);
    SherpaOnnxAcceptWaveformOffline(stream, 16000, second.data(), static_cast<int32_t>(second.size()));
    SherpaOnnxDecodeOfflineStream(recognizer, stream);
    const SherpaOnnxOfflineRecognizerResult* result = SherpaOnnxGetOfflineStreamResult(stream);
    ASSERT_GT(result->count, 200);
    EXPECT_LE(result->count, 250);
    EXPECT_FLOAT_EQ(result->timestamps[result->count - 1], 0.96f) << "the last of 25 frames of 40 ms";
    SherpaOnnxDestroyOfflineRecognizerResult(result);
    SherpaOnnxDestroyOfflineStream(stream);
    SherpaOnnxDestroyOfflineRecognizer(recognizer);
}

} // namespace
