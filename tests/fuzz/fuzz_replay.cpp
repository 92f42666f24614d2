// fuzz_replay.cpp -- runs one fuzz target, in the ordinary test build, over its
// seed inputs and over every input a fuzz run once crashed on (regressions/<target>/);
// the target's own checks abort on a fault.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_seeds.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// Initialises the target once, after the seeds were made (it changes directory).
void fuzz_start()
{
    static bool started = false;
    if (!started) {
        LLVMFuzzerInitialize(nullptr, nullptr);
        started = true;
    }
}

std::vector<std::string> fuzz_regressionfiles()
{
    const std::string dir = QUORREL_FUZZ_REGRESSIONS;
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent *entry = readdir(d)) {
        if (entry->d_name[0] != '.')
            names.push_back(dir + "/" + entry->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FuzzReplay, SeedsRunCleanly)
{
    const std::vector<fuzz_bytes> seeds = fuzz_seeds(QUORREL_FUZZ_TARGET);
    ASSERT_FALSE(seeds.empty());
    fuzz_start();
    for (const fuzz_bytes &seed : seeds) {
        ASSERT_FALSE(seed.empty());
        EXPECT_EQ(LLVMFuzzerTestOneInput(seed.data(), seed.size()), 0);
    }
}

TEST(FuzzReplay, CrashInputsStayFixed)
{
    const std::vector<std::string> files = fuzz_regressionfiles();
    if (files.empty())
        GTEST_SKIP() << "no crash inputs recorded for " << QUORREL_FUZZ_TARGET;
    fuzz_start();
    for (const std::string &name : files) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes;
        FILE *file = fopen(name.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        int c;
        while ((c = fgetc(file)) != EOF)
            bytes.push_back(static_cast<uint8_t>(c));
        fclose(file);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

}  // namespace
