// fuzz_mkseeds.cpp -- writes the seed corpus of every fuzz target:
// <folder>/<target>/seedNN, made by the project's own file writers.
//   usage: fuzz_mkseeds <folder>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_seeds.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_mkseeds <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    mkdir(folder.c_str(), 0755);
    if (chdir(folder.c_str()) != 0) {
        fprintf(stderr, "fuzz_mkseeds: cannot enter %s\n", folder.c_str());
        return 1;
    }
    const char *targets[] = {"descriptor", "asset", "icon", "wav", "ogg", "tga"};
    for (const char *target : targets) {
        mkdir(target, 0755);
        const std::vector<fuzz_bytes> seeds = fuzz_seeds(target);
        for (size_t i = 0; i < seeds.size(); i++) {
            char name[64];
            snprintf(name, sizeof(name), "%s/seed%02zu", target, i);
            FILE *file = fopen(name, "wb");
            if (!file || fwrite(seeds[i].data(), 1, seeds[i].size(), file) != seeds[i].size()) {
                fprintf(stderr, "fuzz_mkseeds: cannot write %s\n", name);
                return 1;
            }
            fclose(file);
        }
    }
    return 0;
}
