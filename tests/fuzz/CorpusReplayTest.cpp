// Replays the fuzzers' seed corpora, so that every build (not only a clang
// one) reads each input to its end within bounds and without a hang, reads
// each ELF input or refuses it, and runs each Write input against the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CableFileCheck.h"
#include "ElfReaderCheck.h"
#include "HexReaderCheck.h"
#include "WriteCheck.h"

namespace velkor {
namespace {

std::vector<std::filesystem::path> CorpusFiles(const char* folder)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> Contents(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string TestName(const ::testing::TestParamInfo<std::filesystem::path>& info)
{
    std::string name = info.param.stem().string();
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

class HexCorpus : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(HexCorpus, ReadsToItsEndHoldingEveryInvariant)
{
    ASSERT_TRUE(std::filesystem::is_regular_file(GetParam())) << GetParam();
    EXPECT_EQ(fuzz::CheckHexReader(Contents(GetParam())), "");
}

class CableCorpus : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(CableCorpus, IsRefusedOrKeepsThePortsRules)
{
    EXPECT_EQ(fuzz::CheckCableFile(Contents(GetParam())), "");
}

class WriteCorpus : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(WriteCorpus, WriteAgreesWithTheModel)
{
    EXPECT_EQ(fuzz::CheckWrite(Contents(GetParam())), "");
}

class ElfCorpus : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(ElfCorpus, ReadsOrIsRefusedHoldingEveryInvariant)
{
    EXPECT_EQ(fuzz::CheckElfReader(Contents(GetParam())), "");
}

TEST(CorpusSeeds, AreThere)
{
    EXPECT_GE(CorpusFiles(VELKOR_ELF_CORPUS_DIR).size(), 5u);
    EXPECT_GE(CorpusFiles(VELKOR_HEX_CORPUS_DIR).size(), 10u);
    EXPECT_GE(CorpusFiles(VELKOR_CABLE_CORPUS_DIR).size(), 10u);
    EXPECT_GE(CorpusFiles(VELKOR_WRITE_CORPUS_DIR).size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, HexCorpus, ::testing::ValuesIn(CorpusFiles(VELKOR_HEX_CORPUS_DIR)), TestName);
INSTANTIATE_TEST_SUITE_P(Seeds, ElfCorpus, ::testing::ValuesIn(CorpusFiles(VELKOR_ELF_CORPUS_DIR)), TestName);
INSTANTIATE_TEST_SUITE_P(Seeds, CableCorpus, ::testing::ValuesIn(CorpusFiles(VELKOR_CABLE_CORPUS_DIR)), TestName);
INSTANTIATE_TEST_SUITE_P(Seeds, WriteCorpus, ::testing::ValuesIn(CorpusFiles(VELKOR_WRITE_CORPUS_DIR)), TestName);

}  // namespace
}  // namespace velkor
