// The model folder's stamp file, the record of files found intact.
// Input: the stamp file's bytes.
//
// Invariants: loading never fails and is deterministic; a record written over whatever was there
// reads back and vouches only for the file it was made for.

#include "FuzzSupport.h"

#include "speech/ModelStamps.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto folder = fuzz::scratch() / "model";
    std::filesystem::create_directories(folder);
    fuzz::writeFile(folder / std::string(speech::ModelStore::stampFileName), fuzz::text(data, size));
    fuzz::writeFile(folder / "tokens.txt", "x");
    auto stamp = speech::FileStamp::of(folder / "tokens.txt");
    fuzz::check(stamp.has_value(), "a regular file has a stamp");
    const speech::ModelStore::File file{"tokens.txt", 1, std::string(64, 'a')};
    const speech::ModelStore::File other{"tokens.txt", 1, std::string(64, 'b')};

    speech::ModelStamps first(folder);
    speech::ModelStamps second(folder);
    fuzz::check(first.vouchesFor(file, *stamp) == second.vouchesFor(file, *stamp), "loading is deterministic");

    first.record(file, *stamp);
    fuzz::check(first.save(), "the record can be written");
    speech::ModelStamps reread(folder);
    fuzz::check(reread.vouchesFor(file, *stamp), "a written record reads back");
    fuzz::check(!reread.vouchesFor(other, *stamp), "a record vouches only for its own digest");
    return 0;
}
