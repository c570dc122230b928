// Replays the fuzzer's seed corpus, so that every build (not only a clang
// one) reads each input to its end within bounds and without a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "HexReaderCheck.h"

namespace velkor {
namespace {

std::vector<std::filesystem::path> CorpusFiles()
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(VELKOR_HEX_CORPUS_DIR)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class HexCorpus : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(HexCorpus, ReadsToItsEndHoldingEveryInvariant)
{
    std::ifstream file(GetParam(), std::ios::binary);
    ASSERT_TRUE(file) << GetParam();
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(fuzz::CheckHexReader(bytes), "");
}

TEST(HexCorpusSeeds, AreThere)
{
    EXPECT_GE(CorpusFiles().size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, HexCorpus, ::testing::ValuesIn(CorpusFiles()),
                         [](const ::testing::TestParamInfo<std::filesystem::path>& info) {
                             std::string name = info.param.stem().string();
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

}  // namespace
}  // namespace velkor
