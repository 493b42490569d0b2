#pragma once

// The subset of the sherpa-onnx 1.13.4 C API that the engine uses. The binary package ships no
// header, so the layouts are declared here and pinned by the assertions at the end: the whole
// recogniser configuration must be declared because the fields we set sit after the ones we leave
// empty. Zero the configuration before filling it: the library turns zeros into its defaults.

#include <cstddef>
#include <cstdint>

extern "C" {

struct SherpaOnnxFeatureConfig {
    int32_t sample_rate;
    int32_t feature_dim;
};

struct SherpaOnnxOfflineTransducerModelConfig {
    const char* encoder;
    const char* decoder;
    const char* joiner;
};

struct SherpaOnnxOfflineParaformerModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineNemoEncDecCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineWhisperModelConfig {
    const char* encoder;
    const char* decoder;
    const char* language;
    const char* task;
    int32_t tail_paddings;
    int32_t enable_token_timestamps;
    int32_t enable_segment_timestamps;
};

struct SherpaOnnxOfflineTdnnModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineSenseVoiceModelConfig {
    const char* model;
    const char* language;
    int32_t use_itn;
};

struct SherpaOnnxOfflineMoonshineModelConfig {
    const char* preprocessor;
    const char* encoder;
    const char* uncached_decoder;
    const char* cached_decoder;
    const char* merged_decoder;
};

struct SherpaOnnxOfflineFireRedAsrModelConfig {
    const char* encoder;
    const char* decoder;
};

struct SherpaOnnxOfflineDolphinModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineZipformerCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineCanaryModelConfig {
    const char* encoder;
    const char* decoder;
    const char* src_lang;
    const char* tgt_lang;
    int32_t use_pnc;
};

struct SherpaOnnxOfflineWenetCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineOmnilingualAsrCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineMedAsrCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineFunASRNanoModelConfig {
    const char* encoder_adaptor;
    const char* llm;
    const char* embedding;
    const char* tokenizer;
    const char* system_prompt;
    const char* user_prompt;
    int32_t max_new_tokens;
    float temperature;
    float top_p;
    int32_t seed;
    const char* language;
    int32_t itn;
    const char* hotwords;
};

struct SherpaOnnxOfflineFireRedAsrCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOfflineQwen3ASRModelConfig {
    const char* conv_frontend;
    const char* encoder;
    const char* decoder;
    const char* tokenizer;
    int32_t max_total_len;
    int32_t max_new_tokens;
    float temperature;
    float top_p;
    int32_t seed;
    const char* hotwords;
};

struct SherpaOnnxOfflineCohereTranscribeModelConfig {
    const char* encoder;
    const char* decoder;
    const char* language;
    int32_t use_punct;
    int32_t use_itn;
};

struct SherpaOnnxOfflineModelConfig {
    SherpaOnnxOfflineTransducerModelConfig transducer;
    SherpaOnnxOfflineParaformerModelConfig paraformer;
    SherpaOnnxOfflineNemoEncDecCtcModelConfig nemo_ctc;
    SherpaOnnxOfflineWhisperModelConfig whisper;
    SherpaOnnxOfflineTdnnModelConfig tdnn;
    const char* tokens;
    int32_t num_threads;
    int32_t debug;
    const char* provider;
    const char* model_type;
    const char* modeling_unit;
    const char* bpe_vocab;
    const char* telespeech_ctc;
    SherpaOnnxOfflineSenseVoiceModelConfig sense_voice;
    SherpaOnnxOfflineMoonshineModelConfig moonshine;
    SherpaOnnxOfflineFireRedAsrModelConfig fire_red_asr;
    SherpaOnnxOfflineDolphinModelConfig dolphin;
    SherpaOnnxOfflineZipformerCtcModelConfig zipformer_ctc;
    SherpaOnnxOfflineCanaryModelConfig canary;
    SherpaOnnxOfflineWenetCtcModelConfig wenet_ctc;
    SherpaOnnxOfflineOmnilingualAsrCtcModelConfig omnilingual;
    SherpaOnnxOfflineMedAsrCtcModelConfig medasr;
    SherpaOnnxOfflineFunASRNanoModelConfig funasr_nano;
    SherpaOnnxOfflineFireRedAsrCtcModelConfig fire_red_asr_ctc;
    SherpaOnnxOfflineQwen3ASRModelConfig qwen3_asr;
    SherpaOnnxOfflineCohereTranscribeModelConfig cohere_transcribe;
};

struct SherpaOnnxOfflineLMConfig {
    const char* model;
    float scale;
};

struct SherpaOnnxHomophoneReplacerConfig {
    const char* dict_dir;
    const char* lexicon;
    const char* rule_fsts;
};

struct SherpaOnnxOfflineRecognizerConfig {
    SherpaOnnxFeatureConfig feat_config;
    SherpaOnnxOfflineModelConfig model_config;
    SherpaOnnxOfflineLMConfig lm_config;
    const char* decoding_method;
    int32_t max_active_paths;
    const char* hotwords_file;
    float hotwords_score;
    const char* rule_fsts;
    const char* rule_fars;
    float blank_penalty;
    SherpaOnnxHomophoneReplacerConfig hr;
};

/// Allocated and freed by the library only: never copy one or make one.
struct SherpaOnnxOfflineRecognizerResult {
    const char* text;
    float* timestamps;
    int32_t count;
    const char* tokens;
    const char* const* tokens_arr;
    const char* json;
    const char* lang;
    const char* emotion;
    const char* event;
    float* durations;
    float* ys_log_probs;
    const float* segment_timestamps;
    const float* segment_durations;
    const char* segment_texts;
    const char* const* segment_texts_arr;
    int32_t segment_count;
};

struct SherpaOnnxOfflineRecognizer;
struct SherpaOnnxOfflineStream;

const SherpaOnnxOfflineRecognizer* SherpaOnnxCreateOfflineRecognizer(const SherpaOnnxOfflineRecognizerConfig* config);
void SherpaOnnxDestroyOfflineRecognizer(const SherpaOnnxOfflineRecognizer* recognizer);
const SherpaOnnxOfflineStream* SherpaOnnxCreateOfflineStream(const SherpaOnnxOfflineRecognizer* recognizer);
void SherpaOnnxDestroyOfflineStream(const SherpaOnnxOfflineStream* stream);
void SherpaOnnxAcceptWaveformOffline(const SherpaOnnxOfflineStream* stream, int32_t sample_rate, const float* samples,
                                     int32_t n);
void SherpaOnnxDecodeOfflineStream(const SherpaOnnxOfflineRecognizer* recognizer,
                                   const SherpaOnnxOfflineStream* stream);
const SherpaOnnxOfflineRecognizerResult* SherpaOnnxGetOfflineStreamResult(const SherpaOnnxOfflineStream* stream);
void SherpaOnnxDestroyOfflineRecognizerResult(const SherpaOnnxOfflineRecognizerResult* r);
const char* SherpaOnnxGetVersionStr(void);
const char* SherpaOnnxGetGitSha1(void);
const char* SherpaOnnxGetGitDate(void);

} // extern "C"

// Layout of the 1.13.4 binary on LP64 Linux.
static_assert(sizeof(SherpaOnnxFeatureConfig) == 8);
static_assert(sizeof(SherpaOnnxOfflineTransducerModelConfig) == 24);
static_assert(sizeof(SherpaOnnxOfflineWhisperModelConfig) == 48);
static_assert(sizeof(SherpaOnnxOfflineSenseVoiceModelConfig) == 24);
static_assert(sizeof(SherpaOnnxOfflineMoonshineModelConfig) == 40);
static_assert(sizeof(SherpaOnnxOfflineFireRedAsrModelConfig) == 16);
static_assert(sizeof(SherpaOnnxOfflineCanaryModelConfig) == 40);
static_assert(sizeof(SherpaOnnxOfflineFunASRNanoModelConfig) == 88);
static_assert(sizeof(SherpaOnnxOfflineQwen3ASRModelConfig) == 64);
static_assert(sizeof(SherpaOnnxOfflineCohereTranscribeModelConfig) == 32);
static_assert(sizeof(SherpaOnnxOfflineLMConfig) == 16);
static_assert(sizeof(SherpaOnnxHomophoneReplacerConfig) == 24);
static_assert(sizeof(SherpaOnnxOfflineModelConfig) == 504);
static_assert(sizeof(SherpaOnnxOfflineRecognizerConfig) == 608);
static_assert(sizeof(SherpaOnnxOfflineRecognizerResult) == 128);

static_assert(offsetof(SherpaOnnxOfflineFunASRNanoModelConfig, hotwords) == 80);
static_assert(offsetof(SherpaOnnxOfflineQwen3ASRModelConfig, hotwords) == 56);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, tdnn) == 88);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, tokens) == 96);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, num_threads) == 104);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, debug) == 108);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, model_type) == 120);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, modeling_unit) == 128);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, bpe_vocab) == 136);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, sense_voice) == 152);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, moonshine) == 176);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, fire_red_asr) == 216);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, dolphin) == 232);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, canary) == 248);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, wenet_ctc) == 288);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, funasr_nano) == 312);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, fire_red_asr_ctc) == 400);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, qwen3_asr) == 408);
static_assert(offsetof(SherpaOnnxOfflineModelConfig, cohere_transcribe) == 472);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, model_config) == 8);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, lm_config) == 512);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, decoding_method) == 528);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, max_active_paths) == 536);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, hotwords_file) == 544);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, hotwords_score) == 552);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, rule_fsts) == 560);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, rule_fars) == 568);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, blank_penalty) == 576);
static_assert(offsetof(SherpaOnnxOfflineRecognizerConfig, hr) == 584);
static_assert(offsetof(SherpaOnnxOfflineRecognizerResult, count) == 16);
static_assert(offsetof(SherpaOnnxOfflineRecognizerResult, ys_log_probs) == 80);
static_assert(offsetof(SherpaOnnxOfflineRecognizerResult, segment_count) == 120);
