find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)

# sherpa-onnx ships no header and no CMake package: the setup script unpacks the pinned
# binaries into third_party/, and the engine carries its own declarations of the C API.
set(RUVEX_SHERPA_DIR ${PROJECT_SOURCE_DIR}/third_party/sherpa-onnx/lib CACHE PATH "Folder with libsherpa-onnx-c-api.so")
if(NOT EXISTS ${RUVEX_SHERPA_DIR}/libsherpa-onnx-c-api.so)
    message(FATAL_ERROR "sherpa-onnx not found in ${RUVEX_SHERPA_DIR}; run scripts/setup.sh (make build does)")
endif()
add_library(sherpa_onnx SHARED IMPORTED GLOBAL)
set_target_properties(sherpa_onnx PROPERTIES
    IMPORTED_LOCATION ${RUVEX_SHERPA_DIR}/libsherpa-onnx-c-api.so
    IMPORTED_NO_SONAME FALSE)
