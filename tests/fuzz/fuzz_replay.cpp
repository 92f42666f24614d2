// fuzz_replay.cpp -- in the test build, a fuzz target run over its seeds and the
// inputs a fuzz run once crashed on (regressions/<target>/), its own checks
// aborting on a fault; built with FUZZ_MKSEEDS, fuzz_mkseeds <folder>, which
// writes <folder>/<target>/seedNN for every target.
#include <dirent.h>
#include <sys/stat.h>

#include "fuzz_seeds.h"

#ifdef FUZZ_MKSEEDS
int main(int argc, char **argv)
{
    FUZZ_CHECK(argc == 2 && (mkdir(argv[1], 0755), chdir(argv[1])) == 0, "usage: fuzz_mkseeds <folder>");
    for (const char *target : {"descriptor", "asset", "icon", "wav", "ogg", "tga"}) {
        mkdir(target, 0755);
        const std::vector<fuzz_bytes> seeds = fuzz_seeds(target);
        for (size_t i = 0; i < seeds.size(); i++) {
            const std::string name = std::string(target) + (i < 10 ? "/seed0" : "/seed") + std::to_string(i);
            FUZZ_CHECK(!seeds[i].empty() && fuzz_writefile(name, seeds[i]), "cannot write %s", name.c_str());
        }
    }
    return 0;
}
#else
#include <gtest/gtest.h>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(FuzzReplay, SeedsAndCrashInputsRunCleanly)
{
    std::vector<std::pair<std::string, fuzz_bytes>> inputs;
    for (const fuzz_bytes &seed : fuzz_seeds(QUORREL_FUZZ_TARGET))
        inputs.push_back({"seed " + std::to_string(inputs.size()), seed});
    ASSERT_FALSE(inputs.empty());
    if (DIR *dir = opendir(QUORREL_FUZZ_REGRESSIONS)) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                inputs.push_back({entry->d_name, fuzz_readfile(QUORREL_FUZZ_REGRESSIONS "/" + std::string(entry->d_name))});
        closedir(dir);
    }
    LLVMFuzzerInitialize(nullptr, nullptr);   // after the seeds: it changes directory
    for (const auto &input : inputs) {
        SCOPED_TRACE(input.first);
        ASSERT_FALSE(input.second.empty());
        EXPECT_EQ(LLVMFuzzerTestOneInput(input.second.data(), input.second.size()), 0);
    }
}
#endif
