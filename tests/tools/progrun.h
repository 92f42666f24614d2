// progrun.h -- for the tests of emplay and the examples: runs a program under a
// time limit, writes 16-bit WAV files and reads back what a program rendered
#ifndef TESTS_TOOLS_PROGRUN_H
#define TESTS_TOOLS_PROGRUN_H

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "em/em.h"
#include "tools/emplay/wavfile.h"

inline std::string progrun_slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct progrun_result {
    int status = -1; // exit status; timeout's 124 when the run hung
    std::string out, err;
};

// Runs program with args in dir after the shell words in before (variables,
// ulimit, another standard output); two minutes make a hang.
inline progrun_result progrun(const std::string& dir, const std::string& program, const std::vector<std::string>& args,
                              const std::string& before = "")
{
    std::string command = "cd " + dir + " && exec >out.txt 2>err.txt && " + before + "exec timeout -k 5 120 " + program;
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    const int raw = system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, progrun_slurp(dir + "/out.txt"), progrun_slurp(dir + "/err.txt")};
}

// Writes a 16-bit WAV file of interleaved values.
inline void progrun_wav(const std::string& path, uint16_t channels, uint32_t rate, const std::vector<int16_t>& values)
{
    EXPECT_EQ(em_writewav(path.c_str(), values.data(), static_cast<int32_t>(values.size() / channels), channels,
                          static_cast<int32_t>(rate)),
              0);
}

// The values of a rendered file, after checking that its header is the one of
// 16-bit stereo at 44100 Hz whose lengths match the bytes that follow.
inline std::vector<int16_t> progrun_rendered(const std::string& path)
{
    const std::string file = progrun_slurp(path);
    std::vector<int16_t> values;
    uint8_t header[WAVFILE_HEADERBYTES];
    wavfile_header(header, {1, 2, 44100, 16}, static_cast<uint32_t>(file.size() - WAVFILE_HEADERBYTES));
    if (file.size() < WAVFILE_HEADERBYTES || file.compare(0, sizeof(header), reinterpret_cast<char*>(header), sizeof(header))) {
        ADD_FAILURE() << path << ": no file, or not the header of its data";
        return values;
    }
    for (size_t at = WAVFILE_HEADERBYTES; at + 1 < file.size(); at += 2)
        values.push_back(static_cast<int16_t>(static_cast<uint8_t>(file[at]) | static_cast<uint8_t>(file[at + 1]) << 8));
    return values;
}

#endif
