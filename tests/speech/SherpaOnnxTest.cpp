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

// The library prints its parsed configuration as nested `Name(key=value, ...)`; this flattens it
// into "outer.inner.key" -> value, strings with their quotes.
class PrintedConfig {
public:
    explicit PrintedConfig(const std::string& text) : text(text) {
        auto start = text.find("OfflineRecognizerConfig(");
        if (start != std::string::npos) {
            at = start + std::strlen("OfflineRecognizerConfig(");
            fields("");
        }
    }
    std::map<std::string, std::string> values;

private:
    void skipSpace() {
        while (at < text.size() && (text[at] == ' ' || text[at] == ',')) {
            ++at;
        }
    }
    void fields(const std::string& prefix) {
        for (;;) {
            skipSpace();
            if (at >= text.size() || text[at] == ')') {
                ++at;
                return;
            }
            auto equals = text.find('=', at);
            if (equals == std::string::npos) {
                at = text.size();
                return;
            }
            std::string key = prefix + text.substr(at, equals - at);
            at = equals + 1;
            value(key);
        }
    }
    void value(const std::string& key) {
        if (text[at] == '"') {
            auto close = text.find('"', at + 1);
            values[key] = text.substr(at, close + 1 - at);
            at = close + 1;
            return;
        }
        size_t start = at;
        while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '.' ||
                                    text[at] == '-' || text[at] == '+' || text[at] == '_')) {
            ++at;
        }
        if (at < text.size() && text[at] == '(') {
            ++at;
            fields(key + ".");
            return;
        }
        values[key] = text.substr(start, at - start);
    }

    const std::string& text;
    size_t at = 0;
};

struct ChildRun {
    std::string stderrText;
    int status = -1;
};

// Creation runs in a child: a configuration the library dislikes may end the process.
ChildRun createInChild(const SherpaOnnxOfflineRecognizerConfig& config) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return {};
    }
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        const SherpaOnnxOfflineRecognizer* recognizer = SherpaOnnxCreateOfflineRecognizer(&config);
        _exit(recognizer == nullptr ? 0 : 3);
    }
    close(pipeEnds[1]);
    ChildRun run;
    char chunk[4096];
    for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
        run.stderrText.append(chunk, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(SherpaOnnx, IsTheVersionTheDeclarationsWereWrittenFor) {
    EXPECT_STREQ(SherpaOnnxGetVersionStr(), "1.13.4");
    EXPECT_STREQ(SherpaOnnxGetGitSha1(), "14280725");
}

TEST(SherpaOnnx, ReadsEveryConfigurationFieldWhereItWasWritten) {
    // Every string field carries a marker naming the field it was written to. The printed names
    // differ from the C names in a few places; the second column says where each must show up.
    struct Field {
        const char** slot;
        std::string cPath;
        std::string printedPath;
    };
    SherpaOnnxOfflineRecognizerConfig c;
    std::memset(&c, 0, sizeof c);
    auto& m = c.model_config;
    std::vector<Field> strings = {
        {&m.transducer.encoder, "model_config.transducer.encoder", "model_config.transducer.encoder_filename"},
        {&m.transducer.decoder, "model_config.transducer.decoder", "model_config.transducer.decoder_filename"},
        {&m.transducer.joiner, "model_config.transducer.joiner", "model_config.transducer.joiner_filename"},
        {&m.paraformer.model, "model_config.paraformer.model", ""},
        {&m.nemo_ctc.model, "model_config.nemo_ctc.model", ""},
        {&m.whisper.encoder, "model_config.whisper.encoder", ""},
        {&m.whisper.decoder, "model_config.whisper.decoder", ""},
        {&m.whisper.language, "model_config.whisper.language", ""},
        {&m.whisper.task, "model_config.whisper.task", ""},
        {&m.tdnn.model, "model_config.tdnn.model", ""},
        {&m.tokens, "model_config.tokens", ""},
        {&m.provider, "model_config.provider", ""},
        {&m.model_type, "model_config.model_type", ""},
        {&m.modeling_unit, "model_config.modeling_unit", ""},
        {&m.bpe_vocab, "model_config.bpe_vocab", ""},
        {&m.telespeech_ctc, "model_config.telespeech_ctc", ""},
        {&m.sense_voice.model, "model_config.sense_voice.model", ""},
        {&m.sense_voice.language, "model_config.sense_voice.language", ""},
        {&m.moonshine.preprocessor, "model_config.moonshine.preprocessor", ""},
        {&m.moonshine.encoder, "model_config.moonshine.encoder", ""},
        {&m.moonshine.uncached_decoder, "model_config.moonshine.uncached_decoder", ""},
        {&m.moonshine.cached_decoder, "model_config.moonshine.cached_decoder", ""},
        {&m.moonshine.merged_decoder, "model_config.moonshine.merged_decoder", ""},
        {&m.fire_red_asr.encoder, "model_config.fire_red_asr.encoder", ""},
        {&m.fire_red_asr.decoder, "model_config.fire_red_asr.decoder", ""},
        {&m.dolphin.model, "model_config.dolphin.model", ""},
        {&m.zipformer_ctc.model, "model_config.zipformer_ctc.model", ""},
        {&m.canary.encoder, "model_config.canary.encoder", ""},
        {&m.canary.decoder, "model_config.canary.decoder", ""},
        {&m.canary.src_lang, "model_config.canary.src_lang", ""},
        {&m.canary.tgt_lang, "model_config.canary.tgt_lang", ""},
        {&m.wenet_ctc.model, "model_config.wenet_ctc.model", ""},
        {&m.omnilingual.model, "model_config.omnilingual.model", ""},
        {&m.medasr.model, "model_config.medasr.model", ""},
        {&m.funasr_nano.encoder_adaptor, "model_config.funasr_nano.encoder_adaptor", ""},
        {&m.funasr_nano.llm, "model_config.funasr_nano.llm", ""},
        {&m.funasr_nano.embedding, "model_config.funasr_nano.embedding", ""},
        {&m.funasr_nano.tokenizer, "model_config.funasr_nano.tokenizer", ""},
        {&m.funasr_nano.system_prompt, "model_config.funasr_nano.system_prompt", ""},
        {&m.funasr_nano.user_prompt, "model_config.funasr_nano.user_prompt", ""},
        {&m.funasr_nano.language, "model_config.funasr_nano.language", ""},
        {&m.funasr_nano.hotwords, "model_config.funasr_nano.hotwords", ""},
        {&m.fire_red_asr_ctc.model, "model_config.fire_red_asr_ctc.model", ""},
        {&m.qwen3_asr.conv_frontend, "model_config.qwen3_asr.conv_frontend", ""},
        {&m.qwen3_asr.encoder, "model_config.qwen3_asr.encoder", ""},
        {&m.qwen3_asr.decoder, "model_config.qwen3_asr.decoder", ""},
        {&m.qwen3_asr.tokenizer, "model_config.qwen3_asr.tokenizer", ""},
        {&m.qwen3_asr.hotwords, "model_config.qwen3_asr.hotwords", ""},
        {&m.cohere_transcribe.encoder, "model_config.cohere_transcribe.encoder", ""},
        {&m.cohere_transcribe.decoder, "model_config.cohere_transcribe.decoder", ""},
        {&m.cohere_transcribe.language, "model_config.cohere_transcribe.language", ""},
        {&c.lm_config.model, "lm_config.model", ""},
        {&c.decoding_method, "decoding_method", ""},
        {&c.hotwords_file, "hotwords_file", ""},
        {&c.rule_fsts, "rule_fsts", ""},
        {&c.rule_fars, "rule_fars", ""},
        {&c.hr.lexicon, "hr.lexicon", ""},
        {&c.hr.rule_fsts, "hr.rule_fsts", ""},
    };
    std::deque<std::string> markers;
    for (auto& field : strings) {
        markers.push_back("M_" + field.cPath);
        *field.slot = markers.back().c_str();
    }
    c.hr.dict_dir = "M_hr.dict_dir"; // unused by this version, so never printed
    c.feat_config.sample_rate = 8001;
    c.feat_config.feature_dim = 33;
    m.whisper.tail_paddings = 5;
    m.whisper.enable_token_timestamps = 1;
    m.whisper.enable_segment_timestamps = 0;
    m.num_threads = 3;
    m.debug = 1;
    m.sense_voice.use_itn = 1;
    m.canary.use_pnc = 1;
    m.funasr_nano.max_new_tokens = 311;
    m.funasr_nano.temperature = 0.125f;
    m.funasr_nano.top_p = 0.25f;
    m.funasr_nano.seed = 17;
    m.funasr_nano.itn = 1;
    m.qwen3_asr.max_total_len = 611;
    m.qwen3_asr.max_new_tokens = 127;
    m.qwen3_asr.temperature = 0.375f;
    m.qwen3_asr.top_p = 0.625f;
    m.qwen3_asr.seed = 19;
    m.cohere_transcribe.use_punct = 1;
    m.cohere_transcribe.use_itn = 0;
    c.lm_config.scale = 0.5f;
    c.max_active_paths = 9;
    c.hotwords_score = 3.5f;
    c.blank_penalty = 0.75f;

    ChildRun run = createInChild(c);
    EXPECT_EQ(run.status, 0) << "creation from marker paths must fail softly\n" << run.stderrText;
    PrintedConfig printed(run.stderrText);
    ASSERT_FALSE(printed.values.empty()) << run.stderrText;

    for (const auto& field : strings) {
        const std::string& where = field.printedPath.empty() ? field.cPath : field.printedPath;
        EXPECT_EQ(printed.values[where], "\"M_" + field.cPath + "\"") << where;
    }
    EXPECT_EQ(run.stderrText.find("M_hr.dict_dir"), std::string::npos);

    std::map<std::string, std::string> numbers = {
        {"feat_config.sampling_rate", "8001"},
        {"feat_config.feature_dim", "33"},
        {"model_config.whisper.tail_paddings", "5"},
        {"model_config.whisper.enable_token_timestamps", "True"},
        {"model_config.whisper.enable_segment_timestamps", "False"},
        {"model_config.num_threads", "3"},
        {"model_config.debug", "True"},
        {"model_config.sense_voice.use_itn", "True"},
        {"model_config.canary.use_pnc", "True"},
        {"model_config.funasr_nano.max_new_tokens", "311"},
        {"model_config.funasr_nano.temperature", "0.125"},
        {"model_config.funasr_nano.top_p", "0.25"},
        {"model_config.funasr_nano.seed", "17"},
        {"model_config.funasr_nano.itn", "True"},
        {"model_config.qwen3_asr.max_total_len", "611"},
        {"model_config.qwen3_asr.max_new_tokens", "127"},
        {"model_config.qwen3_asr.temperature", "0.375"},
        {"model_config.qwen3_asr.top_p", "0.625"},
        {"model_config.qwen3_asr.seed", "19"},
        {"model_config.cohere_transcribe.use_punct", "True"},
        {"model_config.cohere_transcribe.use_itn", "False"},
        {"lm_config.scale", "0.5"},
        {"max_active_paths", "9"},
        {"hotwords_score", "3.5"},
        {"blank_penalty", "0.75"},
    };
    for (const auto& [where, expected] : numbers) {
        EXPECT_EQ(printed.values[where], expected) << where;
    }
}

} // namespace
