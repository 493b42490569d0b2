#include "speech/Sha256.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

std::string sha256sum(const std::filesystem::path& file) {
    std::FILE* pipe = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    char digest[65] = {};
    std::size_t count = std::fread(digest, 1, 64, pipe);
    ::pclose(pipe);
    return std::string(digest, count);
}

TEST(Sha256, MatchesKnownDigestsAndSha256sumAcrossChunkEdges) {
    testsupport::TempDir dir;
    const std::pair<std::string, const char*> known[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    for (const auto& [data, digest] : known) {
        testsupport::writeFile(dir / "known", data);
        EXPECT_EQ(speech::sha256(dir / "known"), digest) << data.size();
    }

    // Exactly two chunks, and two chunks and a bit: the chunk edges are where a reader goes wrong.
    std::mt19937 random(7);
    for (std::size_t size : {2 * speech::sha256ChunkSize, 2 * speech::sha256ChunkSize + 12345}) {
        std::string data(size, '\0');
        for (auto& byte : data) {
            byte = static_cast<char>(random() & 0xff);
        }
        testsupport::writeFile(dir / "large", data);
        auto expected = sha256sum(dir / "large");
        ASSERT_EQ(expected.size(), 64u);
        EXPECT_EQ(speech::sha256(dir / "large"), expected) << size;
    }
    EXPECT_EQ(speech::sha256(dir / "absent"), std::nullopt);
}

} // namespace
