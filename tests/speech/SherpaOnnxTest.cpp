#include "speech/SherpaOnnx.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

// Flattens the library's printed `Name(key=value, ...)` configuration into "outer.inner.key" ->
// value, strings with their quotes.
std::map<std::string, std::string> printedConfig(const std::string& text) {
    std::map<std::string, std::string> values;
    const std::string head = "OfflineRecognizerConfig(";
    size_t at = text.find(head);
    if (at == std::string::npos) {
        return values;
    }
    at += head.size();
    std::vector<std::string> prefixes = {""};
    while (at < text.size() && !prefixes.empty()) {
        if (text[at] == ' ' || text[at] == ',') {
            ++at;
        } else if (text[at] == ')') {
            ++at;
            prefixes.pop_back();
        } else if (auto equals = text.find('=', at); equals != std::string::npos) {
            std::string key = prefixes.back() + text.substr(at, equals - at);
            at = equals + 1;
            size_t end = text[at] == '"' ? text.find('"', at + 1) + 1 : at;
            while (end < text.size() &&
                   (std::isalnum(static_cast<unsigned char>(text[end])) || std::strchr(".-+_", text[end]) != nullptr)) {
                ++end;
            }
            if (end < text.size() && text[end] == '(') {
                prefixes.push_back(key + ".");
                at = end + 1;
            } else {
                values[key] = text.substr(at, end - at);
                at = end;
            }
        } else {
            break;
        }
    }
    return values;
}

// Creation runs in a child, its standard error captured: a configuration the library dislikes
// may end the process.
std::pair<int, std::string> createInChild(const SherpaOnnxOfflineRecognizerConfig& config) {
    int ends[2];
    if (pipe(ends) != 0) {
        return {-1, {}};
    }
    pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDERR_FILENO);
        close(ends[0]);
        _exit(SherpaOnnxCreateOfflineRecognizer(&config) == nullptr ? 0 : 3);
    }
    close(ends[1]);
    std::string printed;
    char chunk[4096];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) {
        printed.append(chunk, static_cast<size_t>(got));
    }
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, printed};
}

TEST(SherpaOnnx, IsTheVersionTheDeclarationsWereWrittenFor) {
    EXPECT_STREQ(SherpaOnnxGetVersionStr(), "1.13.4");
    EXPECT_STREQ(SherpaOnnxGetGitSha1(), "14280725");
}

TEST(SherpaOnnx, ReadsEveryConfigurationFieldWhereItWasWritten) {
    SherpaOnnxOfflineRecognizerConfig c;
    std::memset(&c, 0, sizeof c);
    // Every string field carries a marker naming the field it was written to; it must be printed
    // under that path, but for the few fields the library prints under another name.
    struct Field {
        const char** slot;
        std::string path;
    };
#define FIELD(path) Field{&c.path, #path}
    // clang-format off
    std::vector<Field> strings = {
        FIELD(model_config.transducer.encoder), FIELD(model_config.transducer.decoder),
        FIELD(model_config.transducer.joiner), FIELD(model_config.paraformer.model), FIELD(model_config.nemo_ctc.model),
        FIELD(model_config.whisper.encoder), FIELD(model_config.whisper.decoder), FIELD(model_config.whisper.language),
        FIELD(model_config.whisper.task), FIELD(model_config.tdnn.model), FIELD(model_config.tokens),
        FIELD(model_config.provider), FIELD(model_config.model_type), FIELD(model_config.modeling_unit),
        FIELD(model_config.bpe_vocab), FIELD(model_config.telespeech_ctc), FIELD(model_config.sense_voice.model),
        FIELD(model_config.sense_voice.language), FIELD(model_config.moonshine.preprocessor),
        FIELD(model_config.moonshine.encoder), FIELD(model_config.moonshine.uncached_decoder),
        FIELD(model_config.moonshine.cached_decoder), FIELD(model_config.moonshine.merged_decoder),
        FIELD(model_config.fire_red_asr.encoder), FIELD(model_config.fire_red_asr.decoder),
        FIELD(model_config.dolphin.model), FIELD(model_config.zipformer_ctc.model), FIELD(model_config.canary.encoder),
        FIELD(model_config.canary.decoder), FIELD(model_config.canary.src_lang), FIELD(model_config.canary.tgt_lang),
        FIELD(model_config.wenet_ctc.model), FIELD(model_config.omnilingual.model), FIELD(model_config.medasr.model),
        FIELD(model_config.funasr_nano.encoder_adaptor), FIELD(model_config.funasr_nano.llm),
        FIELD(model_config.funasr_nano.embedding), FIELD(model_config.funasr_nano.tokenizer),
        FIELD(model_config.funasr_nano.system_prompt), FIELD(model_config.funasr_nano.user_prompt),
        FIELD(model_config.funasr_nano.language), FIELD(model_config.funasr_nano.hotwords),
        FIELD(model_config.fire_red_asr_ctc.model), FIELD(model_config.qwen3_asr.conv_frontend),
        FIELD(model_config.qwen3_asr.encoder), FIELD(model_config.qwen3_asr.decoder),
        FIELD(model_config.qwen3_asr.tokenizer), FIELD(model_config.qwen3_asr.hotwords),
        FIELD(model_config.cohere_transcribe.encoder), FIELD(model_config.cohere_transcribe.decoder),
        FIELD(model_config.cohere_transcribe.language), FIELD(lm_config.model), FIELD(decoding_method),
        FIELD(hotwords_file), FIELD(rule_fsts), FIELD(rule_fars), FIELD(hr.lexicon), FIELD(hr.rule_fsts)};
    // clang-format on
#undef FIELD
    const std::map<std::string, std::string> printedAs = {
        {"model_config.transducer.encoder", "model_config.transducer.encoder_filename"},
        {"model_config.transducer.decoder", "model_config.transducer.decoder_filename"},
        {"model_config.transducer.joiner", "model_config.transducer.joiner_filename"},
        {"feat_config.sample_rate", "feat_config.sampling_rate"}};
    std::deque<std::string> markers;
    for (auto& field : strings) {
        *field.slot = markers.emplace_back("M_" + field.path).c_str();
    }
    c.hr.dict_dir = "M_hr.dict_dir"; // unused by this version, so never printed

    // Numbers and switches, each with how it must be printed.
    struct Number {
        std::string path;
        std::string printed;
    };
#define SET(path, value, printed) (c.path = value, Number{#path, printed})
    // clang-format off
    std::vector<Number> numbers = {
        SET(feat_config.sample_rate, 8001, "8001"), SET(feat_config.feature_dim, 33, "33"),
        SET(model_config.whisper.tail_paddings, 5, "5"), SET(model_config.whisper.enable_token_timestamps, 1, "True"),
        SET(model_config.whisper.enable_segment_timestamps, 0, "False"), SET(model_config.num_threads, 3, "3"),
        SET(model_config.debug, 1, "True"), SET(model_config.sense_voice.use_itn, 1, "True"),
        SET(model_config.canary.use_pnc, 1, "True"), SET(model_config.funasr_nano.max_new_tokens, 311, "311"),
        SET(model_config.funasr_nano.temperature, 0.125f, "0.125"), SET(model_config.funasr_nano.top_p, 0.25f, "0.25"),
        SET(model_config.funasr_nano.seed, 17, "17"), SET(model_config.funasr_nano.itn, 1, "True"),
        SET(model_config.qwen3_asr.max_total_len, 611, "611"), SET(model_config.qwen3_asr.max_new_tokens, 127, "127"),
        SET(model_config.qwen3_asr.temperature, 0.375f, "0.375"), SET(model_config.qwen3_asr.top_p, 0.625f, "0.625"),
        SET(model_config.qwen3_asr.seed, 19, "19"), SET(model_config.cohere_transcribe.use_punct, 1, "True"),
        SET(model_config.cohere_transcribe.use_itn, 0, "False"), SET(lm_config.scale, 0.5f, "0.5"),
        SET(max_active_paths, 9, "9"), SET(hotwords_score, 3.5f, "3.5"), SET(blank_penalty, 0.75f, "0.75")};
    // clang-format on
#undef SET

    auto [status, stderrText] = createInChild(c);
    EXPECT_EQ(status, 0) << "creation from marker paths must fail softly\n" << stderrText;
    auto printed = printedConfig(stderrText);
    ASSERT_FALSE(printed.empty()) << stderrText;
    auto check = [&](const std::string& path, const std::string& expected) {
        auto renamed = printedAs.find(path);
        const std::string& where = renamed == printedAs.end() ? path : renamed->second;
        EXPECT_EQ(printed[where], expected) << where;
    };
    for (const auto& field : strings) {
        check(field.path, "\"M_" + field.path + "\"");
    }
    for (const auto& number : numbers) {
        check(number.path, number.printed);
    }
    EXPECT_EQ(stderrText.find("M_hr.dict_dir"), std::string::npos);
}

} // namespace
