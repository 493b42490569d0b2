# Speech models generated into the build tree, shared by the tests, the fuzz targets, the package
# check and the benchmarks.
#   tone_model  (built by `all`): the tiny tone-alphabet model in ${RUVEX_TONE_MODEL_DIR}, and
#                                 beside it in ${RUVEX_TONE_FAULTS_DIR} damaged files that pass
#                                 every check made before the recogniser is created
#   sized_model (on demand only): random weights at the real model's size and cost, about 230 MB,
#                                 in ${RUVEX_SIZED_MODEL_DIR}, with emitting/ beside it
# Included from every folder that uses them; the rules are made once.
set(RUVEX_TONE_MODEL_DIR ${PROJECT_BINARY_DIR}/models/tone)
set(RUVEX_TONE_FAULTS_DIR ${PROJECT_BINARY_DIR}/models/tone-faults)
set(RUVEX_TONE_MODEL_GENERATOR ${PROJECT_SOURCE_DIR}/tests/fixtures/make_tone_model.py)
set(RUVEX_SIZED_MODEL_DIR ${PROJECT_BINARY_DIR}/models/sized)
set(RUVEX_SIZED_MODEL_GENERATOR ${PROJECT_SOURCE_DIR}/bench/fixtures/make_sized_model.py)

if(NOT TARGET tone_model)
    add_custom_command(
        OUTPUT ${RUVEX_TONE_MODEL_DIR}/encoder.int8.onnx ${RUVEX_TONE_MODEL_DIR}/decoder.onnx
               ${RUVEX_TONE_MODEL_DIR}/joiner.onnx ${RUVEX_TONE_MODEL_DIR}/tokens.txt ${RUVEX_TONE_MODEL_DIR}/bpe.vocab
               ${RUVEX_TONE_FAULTS_DIR}/encoder-damaged-constant.onnx
        COMMAND /usr/bin/python3 ${RUVEX_TONE_MODEL_GENERATOR} ${RUVEX_TONE_MODEL_DIR} ${RUVEX_TONE_FAULTS_DIR}
        DEPENDS ${RUVEX_TONE_MODEL_GENERATOR}
        COMMENT "Generating the synthetic tone model and its damaged variants")
    add_custom_target(tone_model ALL DEPENDS ${RUVEX_TONE_MODEL_DIR}/encoder.int8.onnx)

    # The generator writes the encoder last, so its presence means a complete folder.
    add_custom_command(
        OUTPUT ${RUVEX_SIZED_MODEL_DIR}/encoder.int8.onnx
        COMMAND /usr/bin/python3 ${RUVEX_SIZED_MODEL_GENERATOR} ${RUVEX_SIZED_MODEL_DIR}
        DEPENDS ${RUVEX_SIZED_MODEL_GENERATOR}
        COMMENT "Generating the model of the real model's size (random weights, about 230 MB)")
    add_custom_target(sized_model DEPENDS ${RUVEX_SIZED_MODEL_DIR}/encoder.int8.onnx)
endif()
