// fuzz_replay.cpp -- in the test build, a fuzz target run over its seeds and the inputs kept in regressions/<target>/;
// built with FUZZ_MKSEEDS, fuzz_mkseeds <folder>, which writes <folder>/<target>/seedNN for every target.
#include <dirent.h>
#include <sys/stat.h>

#include "fuzz_common.h"

#ifdef FUZZ_MKSEEDS
int main(int argc, char** argv)
{
    FUZZ_CHECK(argc == 2 && (mkdir(argv[1], 0755), chdir(argv[1])) == 0, "usage: fuzz_mkseeds <folder>");
    for (const char* target : {"descriptor", "asset", "icon", "wav", "ogg", "mem", "tga", "seq"}) {
        mkdir(target, 0755);
        const std::vector<fuzz_bytes> seeds = fuzz_seeds(target);
        for (size_t i = 0; i < seeds.size(); i++) {
            const std::string name = std::string(target) + (i < 10 ? "/seed0" : "/seed") + std::to_string(i);
            FUZZ_CHECK(!seeds[i].empty() && kit_writefile(name, seeds[i]), "cannot write %s", name.c_str());
        }
    }
}
#else
#include <gtest/gtest.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzReplay, SeedsAndCrashInputsRunCleanly)
{
    std::vector<fuzz_bytes> inputs = fuzz_seeds(QUORREL_FUZZ_TARGET);
    ASSERT_FALSE(inputs.empty());
    std::vector<std::string> names(inputs.size(), "a seed");
    DIR* dir = opendir(QUORREL_FUZZ_REGRESSIONS);
    ASSERT_NE(dir, nullptr) << "no folder " QUORREL_FUZZ_REGRESSIONS;
    for (const dirent* entry; (entry = readdir(dir));)
        if (entry->d_name[0] != '.')
            names.push_back(QUORREL_FUZZ_REGRESSIONS "/" + std::string(entry->d_name)),
                inputs.push_back(fuzz_readfile(names.back()));
    closedir(dir);
    LLVMFuzzerInitialize(nullptr, nullptr); // after the seeds: it changes directory
    for (size_t i = 0; i < inputs.size(); i++) {
        ASSERT_FALSE(inputs[i].empty()) << names[i];
        EXPECT_EQ(LLVMFuzzerTestOneInput(inputs[i].data(), inputs[i].size()), 0) << names[i];
    }
}
#endif
