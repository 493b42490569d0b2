#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace speech {

/// What the recogniser library reads of an ONNX model before and while running it: the model's
/// metadata and its graph's declared inputs and outputs, in order.
struct OnnxModel {
    /// One declared input or output.
    struct Value {
        std::string name;
        std::int32_t elementType = 0; ///< the tensor's data type (1 float, 6 int32, 7 int64); 0: not a tensor
        bool hasShape = false;
        std::vector<std::int64_t> shape; ///< each dimension, -1 where it is named or unknown

        static constexpr std::int32_t float32 = 1;
        static constexpr std::int32_t int32 = 6;
        static constexpr std::int32_t int64 = 7;
    };

    std::map<std::string, std::string> metadata;
    std::vector<Value> inputs; ///< graph inputs that are not initializers: what the caller feeds
    std::vector<Value> outputs;

    /// Walks the protobuf structure of an ONNX model (ModelProto) in `bytes`: the top-level
    /// fields must cover the whole message and hold a graph; the graph, its initializers' names,
    /// its inputs and outputs and their types are walked too, everything else is skipped by its
    /// length. Bounded: names, metadata entries, the number of inputs, outputs and dimensions and
    /// the nesting are limited, and large fields such as weights are never read. Nothing when the
    /// bytes are not such a model.
    static std::optional<OnnxModel> parse(std::string_view bytes);

    /// The same for a file, read piece by piece, so a model of hundreds of megabytes costs a few
    /// small reads. Only a regular file is opened (a pipe could block for ever).
    static std::optional<OnnxModel> read(const std::filesystem::path& file);
};

} // namespace speech
