#include "speech/Engine.h"
#include "speech/ModelFiles.h"
#include "speech/SherpaOnnx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (char buffer[256]; pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr;) {
        out += buffer;
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return out;
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
    auto metadata = speech::ModelFiles::readOnnxMetadata(model / "encoder.int8.onnx");
    ASSERT_TRUE(metadata);
    EXPECT_TRUE(speech::ModelFiles::encoderFits(*metadata, tokens->size()));
    for (auto [key, value] : std::vector<std::pair<std::string, std::string>>{{"vocab_size", "1024"},
                                                                              {"pred_rnn_layers", "1"},
                                                                              {"pred_hidden", "320"},
                                                                              {"normalize_type", ""},
                                                                              {"subsampling_factor", "4"},
                                                                              {"model_type", "EncDecRNNTBPEModel"},
                                                                              {"version", "3"},
                                                                              {"is_giga_am", "1"}}) {
        EXPECT_EQ((*metadata)[key], value) << key;
    }
    // Inputs and outputs as the real export declares them, read back by the ONNX package.
    const char* describe = R"(import onnx, sys
for name in ("encoder.int8.onnx", "decoder.onnx", "joiner.onnx"):
    graph = onnx.load(sys.argv[1] + "/" + name).graph
    for kind, values in (("in", graph.input), ("out", graph.output)):
        for v in values:
            t = v.type.tensor_type
            dims = ",".join(d.dim_param or str(d.dim_value) for d in t.shape.dim)
            print(name.split(".")[0], kind, v.name, onnx.TensorProto.DataType.Name(t.elem_type), dims))";
    EXPECT_EQ(run("/usr/bin/python3 -c '" + std::string(describe) + "' " + model.string()),
              "encoder in audio_signal FLOAT N,64,T\n"
              "encoder in length INT64 N\n"
              "encoder out encoded FLOAT N,768,T_out\n"
              "encoder out encoded_len INT32 N\n"
              "decoder in x INT32 1,1\n"
              "decoder in unused_x_len.1 INT32 1\n"
              "decoder in h.1 FLOAT 1,1,320\n"
              "decoder in c.1 FLOAT 1,1,320\n"
              "decoder out dec FLOAT 1,320,1\n"
              "decoder out unused_x_len INT32 1\n"
              "decoder out h FLOAT 1,1,320\n"
              "decoder out c FLOAT 1,1,320\n"
              "joiner in enc FLOAT 1,768,1\n"
              "joiner in dec FLOAT 1,320,1\n"
              "joiner out joint FLOAT 1,1,1,1025\n");

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
    std::string encoder = folder + "/encoder.int8.onnx", decoder = folder + "/decoder.onnx",
                joiner = folder + "/joiner.onnx", table = folder + "/tokens.txt";
    SherpaOnnxOfflineRecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.model_config.transducer = {encoder.c_str(), decoder.c_str(), joiner.c_str()};
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
