#include "speech/OnnxModel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace speech {

namespace {

// Field numbers of the ONNX protobuf messages walked here.
namespace field {
constexpr std::uint64_t modelGraph = 7, modelMetadata = 14;
constexpr std::uint64_t entryKey = 1, entryValue = 2;
constexpr std::uint64_t graphInitializer = 5, graphInput = 11, graphOutput = 12, graphSparseInitializer = 15;
constexpr std::uint64_t tensorName = 8, sparseTensorValues = 1;
constexpr std::uint64_t valueName = 1, valueType = 2;
constexpr std::uint64_t typeTensor = 1;
constexpr std::uint64_t tensorTypeElement = 1, tensorTypeShape = 2;
constexpr std::uint64_t shapeDimension = 1;
constexpr std::uint64_t dimensionValue = 1, dimensionName = 2;
} // namespace field

// Bounds on what is kept: real transducer graphs stay far below them.
constexpr std::uint64_t longestName = 1024;
constexpr std::uint64_t largestMetadataEntry = 1 << 20; // larger entries are skipped unread
constexpr std::size_t mostValues = 1 << 16;
constexpr std::size_t mostDimensions = 64;
constexpr std::size_t mostGraphFields = 16;

/// Random access to the bytes of a model in memory or in a file; file reads go through a window.
class Source {
public:
    explicit Source(std::string_view bytes) : memory(bytes), length(bytes.size()) {}
    Source(int fd, std::uint64_t size) : fd(fd), length(size) {}

    std::uint64_t size() const { return length; }

    /// Copies `count` bytes from `at` to `out`; false when the source ends first or a read fails.
    bool read(std::uint64_t at, std::uint64_t count, char* out) {
        if (at > length || count > length - at) {
            return false;
        }
        if (fd < 0) {
            std::memcpy(out, memory.data() + at, count);
            return true;
        }
        if (count > windowSize) {
            return readFile(at, count, out);
        }
        if (at < windowStart || at + count > windowStart + window.size()) {
            window.resize(static_cast<std::size_t>(std::min<std::uint64_t>(windowSize, length - at)));
            if (!readFile(at, window.size(), window.data())) {
                window.clear();
                return false;
            }
            windowStart = at;
        }
        std::memcpy(out, window.data() + (at - windowStart), count);
        return true;
    }

private:
    static constexpr std::uint64_t windowSize = 1 << 16;

    bool readFile(std::uint64_t at, std::uint64_t count, char* out) const {
        while (count > 0) {
            ssize_t got = ::pread(fd, out, count, static_cast<off_t>(at));
            if (got <= 0) {
                return false;
            }
            at += static_cast<std::uint64_t>(got);
            out += got;
            count -= static_cast<std::uint64_t>(got);
        }
        return true;
    }

    std::string_view memory;
    int fd = -1;
    std::uint64_t length;
    std::vector<char> window;
    std::uint64_t windowStart = 0;
};

/// One field of a message: a varint's value, or where a length-delimited payload lies.
struct Field {
    std::uint64_t number = 0;
    int wire = 0;
    std::uint64_t value = 0; ///< varint fields
    std::uint64_t start = 0; ///< length-delimited fields: the payload's offset and length
    std::uint64_t length = 0;
};

/// The fields of one message lying in [start, end) of the source, in order.
class Message {
public:
    Message(Source& source, std::uint64_t start, std::uint64_t end) : source(source), at(start), end(end) {}
    Message(Source& source, const Field& of) : Message(source, of.start, of.start + of.length) {}

    /// The next field; false at the end of the message, or on damage, which sets `damaged`.
    bool next(Field& field) {
        if (at == end) {
            return false;
        }
        std::uint64_t tag = 0;
        if (!varint(tag) || (tag >> 3) == 0) {
            return fail();
        }
        field.number = tag >> 3;
        field.wire = static_cast<int>(tag & 7);
        std::uint64_t skip = 0;
        switch (field.wire) {
        case 0:
            if (!varint(field.value)) {
                return fail();
            }
            break;
        case 1:
            skip = 8;
            break;
        case 2:
            if (!varint(skip)) {
                return fail();
            }
            field.start = at;
            field.length = skip;
            break;
        case 5:
            skip = 4;
            break;
        default: // groups are not part of ONNX; other wire types do not exist
            return fail();
        }
        if (skip > end - at) {
            return fail();
        }
        at += skip;
        return true;
    }

    bool damaged = false;

private:
    bool fail() {
        damaged = true;
        return false;
    }

    bool varint(std::uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            char byte = 0;
            if (at == end || !source.read(at, 1, &byte)) {
                return false;
            }
            ++at;
            value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            if ((byte & 0x80) == 0) {
                return true;
            }
        }
        return false;
    }

    Source& source;
    std::uint64_t at;
    std::uint64_t end;
};

bool readText(Source& source, const Field& field, std::string& out) {
    out.resize(static_cast<std::size_t>(field.length));
    return source.read(field.start, field.length, out.data());
}

/// A string field of at most `longest` bytes; false for another wire type, a longer one or damage.
bool shortText(Source& source, const Field& field, std::uint64_t longest, std::string& out) {
    return field.wire == 2 && field.length <= longest && readText(source, field, out);
}

bool parseEntry(Source& source, const Field& of, std::map<std::string, std::string>& metadata) {
    Message entry(source, of);
    std::string key;
    std::string value;
    for (Field f; entry.next(f);) {
        if (f.wire == 2 && (f.number == field::entryKey || f.number == field::entryValue) &&
            !readText(source, f, f.number == field::entryKey ? key : value)) {
            return false;
        }
    }
    metadata[key] = value;
    return !entry.damaged;
}

bool parseShape(Source& source, const Field& of, OnnxModel::Value& value) {
    value.hasShape = true;
    value.shape.clear();
    Message shape(source, of);
    for (Field f; shape.next(f);) {
        if (f.number != field::shapeDimension || f.wire != 2) {
            continue;
        }
        if (value.shape.size() == mostDimensions) {
            return false;
        }
        std::int64_t size = -1;
        Message dimension(source, f);
        for (Field d; dimension.next(d);) {
            if (d.number == field::dimensionValue && d.wire == 0) {
                size = static_cast<std::int64_t>(d.value);
            } else if (d.number == field::dimensionName && d.wire == 2) {
                size = -1;
            }
        }
        if (dimension.damaged) {
            return false;
        }
        value.shape.push_back(size);
    }
    return !shape.damaged;
}

bool parseType(Source& source, const Field& of, OnnxModel::Value& value) {
    Message type(source, of);
    for (Field f; type.next(f);) {
        if (f.number != field::typeTensor || f.wire != 2) {
            continue;
        }
        Message tensor(source, f);
        for (Field t; tensor.next(t);) {
            if (t.number == field::tensorTypeElement && t.wire == 0) {
                value.elementType = static_cast<std::int32_t>(t.value);
            } else if (t.number == field::tensorTypeShape && t.wire == 2 && !parseShape(source, t, value)) {
                return false;
            }
        }
        if (tensor.damaged) {
            return false;
        }
    }
    return !type.damaged;
}

bool parseValue(Source& source, const Field& of, std::vector<OnnxModel::Value>& values) {
    if (values.size() == mostValues) {
        return false;
    }
    OnnxModel::Value value;
    Message info(source, of);
    for (Field f; info.next(f);) {
        if (f.number == field::valueName && !shortText(source, f, longestName, value.name)) {
            return false;
        }
        if (f.number == field::valueType && f.wire == 2 && !parseType(source, f, value)) {
            return false;
        }
    }
    values.push_back(std::move(value));
    return !info.damaged;
}

/// The declared inputs and outputs of a graph, appended to the model's.
bool parseGraph(Source& source, const Field& of, OnnxModel& model) {
    Message graph(source, of);
    for (Field f; graph.next(f);) {
        if (f.wire == 2 && f.number == field::graphInput && !parseValue(source, f, model.inputs)) {
            return false;
        }
        if (f.wire == 2 && f.number == field::graphOutput && !parseValue(source, f, model.outputs)) {
            return false;
        }
    }
    return !graph.damaged;
}

/// Adds to `hidden` the names in `inputs` that an initializer of the graph gives a value: the
/// caller need not feed those.
bool findInitialized(Source& source, const Field& of, const std::unordered_set<std::string>& inputs,
                     std::unordered_set<std::string>& hidden) {
    Message graph(source, of);
    for (Field f; graph.next(f);) {
        if (f.wire != 2 || (f.number != field::graphInitializer && f.number != field::graphSparseInitializer)) {
            continue;
        }
        Field tensor = f;
        if (f.number == field::graphSparseInitializer) {
            // A sparse initializer's name is that of its values tensor.
            Message sparse(source, f);
            for (Field s; sparse.next(s);) {
                if (s.number == field::sparseTensorValues && s.wire == 2) {
                    tensor = s;
                }
            }
            if (sparse.damaged) {
                return false;
            }
        }
        std::optional<std::string> name;
        Message initializer(source, tensor);
        for (Field t; initializer.next(t);) {
            std::string text;
            if (t.number == field::tensorName && shortText(source, t, longestName, text)) {
                name = std::move(text);
            }
        }
        if (initializer.damaged) {
            return false;
        }
        if (name && inputs.count(*name) != 0) {
            hidden.insert(*name);
        }
    }
    return !graph.damaged;
}

std::optional<OnnxModel> parseModel(Source& source) {
    OnnxModel model;
    std::vector<Field> graphs; // a repeated message field is merged, as protobuf does
    bool any = false;
    Message top(source, 0, source.size());
    for (Field f; top.next(f);) {
        any = true;
        if (f.number == field::modelGraph && f.wire == 2) {
            if (graphs.size() == mostGraphFields || !parseGraph(source, f, model)) {
                return std::nullopt;
            }
            graphs.push_back(f);
        } else if (f.number == field::modelMetadata && f.wire == 2 && f.length <= largestMetadataEntry &&
                   !parseEntry(source, f, model.metadata)) {
            return std::nullopt;
        }
    }
    if (top.damaged || !any || graphs.empty()) {
        return std::nullopt;
    }
    std::unordered_set<std::string> inputs;
    for (const auto& input : model.inputs) {
        inputs.insert(input.name);
    }
    std::unordered_set<std::string> hidden;
    for (const auto& graph : graphs) {
        if (!findInitialized(source, graph, inputs, hidden)) {
            return std::nullopt;
        }
    }
    std::erase_if(model.inputs, [&](const OnnxModel::Value& input) { return hidden.count(input.name) != 0; });
    return model;
}

} // namespace

std::optional<OnnxModel> OnnxModel::parse(std::string_view bytes) {
    Source source(bytes);
    return parseModel(source);
}

std::optional<OnnxModel> OnnxModel::read(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::optional<OnnxModel> model;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        Source source(fd, static_cast<std::uint64_t>(info.st_size));
        model = parseModel(source);
    }
    ::close(fd);
    return model;
}

} // namespace speech
