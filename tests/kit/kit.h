// kit.h -- the test kit's plain helpers, shared by every test program and the fuzz targets: a temporary folder,
// reading and writing whole files, 16-bit WAV files written and read back, files of libsndfile's formats, and a
// program run under a time limit. The other kit headers add the engine fixture (kit_em.h), the window fixture
// (kit_gl.h) and picture files (kit_images.h); everything carries the kit_ prefix.
#ifndef TESTS_KIT_KIT_H
#define TESTS_KIT_KIT_H

#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/emplay/wavfile.h"

// A fresh folder under /tmp, removed with everything in it when done; path is empty when it could not be made.
// Entered, it is also the working folder until then.
class kit_tempdir {
public:
    std::string path;

    explicit kit_tempdir(bool enter = false)
    {
        char pattern[] = "/tmp/quorrel-test-XXXXXX";
        if (mkdtemp(pattern))
            path = pattern;
        if (enter && !path.empty()) {
            oldcwd_ = std::filesystem::current_path().string();
            if (chdir(pattern) != 0)
                path.clear();
        }
    }
    ~kit_tempdir()
    {
        std::error_code ignored;
        if (!oldcwd_.empty() && chdir(oldcwd_.c_str()) != 0)
            return;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    kit_tempdir(const kit_tempdir&) = delete;
    kit_tempdir& operator=(const kit_tempdir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }

private:
    std::string oldcwd_;
};

// Everything a file holds; empty when it cannot be read.
inline std::string kit_readfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes bytes (a vector or a string) as the file's whole contents; false when that failed.
template <class Bytes> inline bool kit_writefile(const std::string& path, const Bytes& data)
{
    std::ofstream file(path, std::ios::binary);
    return !file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size())).flush().fail();
}

// Appends v in `bytes` bytes, least significant first unless big.
inline void kit_put(std::vector<uint8_t>& out, uint32_t v, int bytes, bool big = false)
{
    for (int i = 0; i < bytes; i++)
        out.push_back(static_cast<uint8_t>(v >> (8 * (big ? bytes - 1 - i : i))));
}

// Little-endian bytes of 16-bit values.
inline std::vector<uint8_t> kit_bytes16(const std::vector<int16_t>& values)
{
    std::vector<uint8_t> bytes;
    for (const int16_t v : values)
        kit_put(bytes, static_cast<uint16_t>(v), 2);
    return bytes;
}

// A RIFF WAVE file with a plain "fmt " chunk (format tag 1 is PCM) and the given data bytes; false when not written.
inline bool kit_writewav(const std::string& path, uint16_t formattag, uint16_t channels, uint32_t rate, uint16_t bits,
                         const std::vector<uint8_t>& data)
{
    return wavfile_write(path.c_str(), {formattag, channels, rate, bits}, data.data(), static_cast<uint32_t>(data.size()));
}

// The values of a rendered file after checking that its header is the one of 16-bit stereo at 44100 Hz whose lengths
// match the bytes that follow; empty when there is no such file.
inline std::vector<int16_t> kit_rendered(const std::string& path)
{
    const std::string file = kit_readfile(path);
    std::vector<int16_t> values;
    uint8_t header[WAVFILE_HEADERBYTES];
    if (file.size() < WAVFILE_HEADERBYTES)
        return values;
    wavfile_header(header, {1, 2, 44100, 16}, static_cast<uint32_t>(file.size() - WAVFILE_HEADERBYTES));
    if (file.compare(0, sizeof(header), reinterpret_cast<char*>(header), sizeof(header)))
        return values;
    for (size_t at = WAVFILE_HEADERBYTES; at + 1 < file.size(); at += 2)
        values.push_back(static_cast<int16_t>(static_cast<uint8_t>(file[at]) | static_cast<uint8_t>(file[at + 1]) << 8));
    return values;
}

// Writes frames (interleaved doubles, full scale 1.0) in a libsndfile format; false when it cannot.
inline bool kit_writesf(const std::string& path, int format, int channels, int rate, const std::vector<double>& values)
{
    SF_INFO info = {};
    info.samplerate = rate, info.channels = channels, info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    // Integer formats take 32-bit values, full scale 2^31, which each width keeps exactly: libsndfile's
    // doubles scale by 32767 when written, not by the 32768 they are read with.
    const int subtype = format & SF_FORMAT_SUBMASK;
    std::vector<int> ints(values.size());
    for (size_t i = 0; i < values.size(); i++)
        ints[i] = static_cast<int>(std::min(std::llround(values[i] * 2147483648.0), 2147483647LL));
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / channels;
    const bool floats =
        subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE || subtype == SF_FORMAT_VORBIS || subtype == SF_FORMAT_OPUS;
    const bool written =
        (floats ? sf_writef_double(file, values.data(), frames) : sf_writef_int(file, ints.data(), frames)) == frames;
    return sf_close(file) == 0 && written;
}

struct kit_result {
    int status = -1; // exit status; timeout's 124 when the run hung
    std::string out, err;
};

// Runs program with args in dir after the shell words in before (variables, ulimit, another standard output); two
// minutes make a hang.
inline kit_result kit_run(const std::string& dir, const std::string& program, const std::vector<std::string>& args,
                          const std::string& before = "")
{
    std::string command = "cd " + dir + " && exec >out.txt 2>err.txt && " + before + "exec timeout -k 5 120 " + program;
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    const int raw = system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, kit_readfile(dir + "/out.txt"), kit_readfile(dir + "/err.txt")};
}

#endif
