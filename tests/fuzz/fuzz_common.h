// fuzz_common.h -- shared by the fuzz targets and the bad-file tables: the check that stops a run, a working
// folder, files and little-endian fields, and the good files the seeds and the bad-file tables start from
#ifndef TESTS_FUZZ_FUZZ_COMMON_H
#define TESTS_FUZZ_FUZZ_COMMON_H

#include <cstdio>

#include "tests/kit/kit_images.h"
#include "tools/mixgen/oggwriter.h"
#include "tools/emplay/wavfile.h"

typedef std::vector<uint8_t> fuzz_bytes;

// libFuzzer (or the replay test) reports the input as a crash.
#define FUZZ_CHECK(cond, ...)                                                                                                    \
    ((cond) ? void()                                                                                                             \
            : (fprintf(stderr, "fuzz check failed at %s:%d: %s: ", __FILE__, __LINE__, #cond), fprintf(stderr, __VA_ARGS__),     \
               fputc('\n', stderr), abort()))

// A fresh folder under /tmp as the working directory, removed at exit.
static inline void fuzz_enterdir()
{
    static kit_tempdir dir {true};
    FUZZ_CHECK(!dir.path.empty(), "cannot make a working folder");
}

static inline fuzz_bytes fuzz_readfile(const std::string& name)
{
    const std::string text = kit_readfile(name);
    return fuzz_bytes(text.begin(), text.end());
}

// A copy with count little-endian bytes of value at offset at, appended past the end.
static inline fuzz_bytes fuzz_put(fuzz_bytes bytes, size_t at, uint32_t value, int count)
{
    bytes.resize(std::max(bytes.size(), at + count));
    for (int i = 0; i < count; i++)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

static inline fuzz_bytes fuzz_cut(const fuzz_bytes& bytes, size_t count)
{
    return fuzz_bytes(bytes.begin(), bytes.begin() + std::min(count, bytes.size()));
}

// Takes leading little-endian fields of an input, zero past its end.
struct fuzz_reader {
    const uint8_t* data;
    size_t size;
    uint32_t take(size_t bytes)
    {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes && size > 0; i++, size--)
            value |= static_cast<uint32_t>(*data++) << (8 * i);
        return value;
    }
};

// What a writer left in a scratch file.
static inline fuzz_bytes fuzz_take(bool written)
{
    fuzz_bytes bytes = written ? fuzz_readfile("seed.tmp") : fuzz_bytes();
    remove("seed.tmp");
    return bytes;
}

static inline fuzz_bytes fuzz_tga(int32_t w, int32_t h, int32_t channels, bool topdown = false)
{
    return fuzz_take(kit_writetga("seed.tmp", kit_makepicture(w, h, channels, 11), topdown));
}

static inline fuzz_bytes fuzz_bmp(int32_t w, int32_t h, int32_t channels)
{
    return fuzz_take(kit_writebmp("seed.tmp", kit_makepicture(w, h, channels, 13)));
}

static inline fuzz_bytes fuzz_png(int32_t w, int32_t h, int32_t channels)
{
    return fuzz_take(kit_writepng("seed.tmp", kit_makepicture(w, h, channels, 17)));
}

static inline fuzz_bytes fuzz_ogg(int channels, long rate, long frames)
{
    return fuzz_take(mixgen_writeogg("seed.tmp", channels, rate, frames, 440) == 0);
}

// A RIFF WAVE file with a 16-byte format chunk: channels at 22, rate at 24, bits at 34, data length at 40; size
// bytes of patterned data follow.
static inline fuzz_bytes fuzz_wav(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits, uint32_t size)
{
    const wavfile_format format = {static_cast<uint16_t>(tag), static_cast<uint16_t>(channels), rate,
                                   static_cast<uint16_t>(bits)};
    fuzz_bytes out(WAVFILE_HEADERBYTES);
    wavfile_header(out.data(), format, size);
    for (uint32_t i = 0; i < size; i++)
        out.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
    return out;
}

#ifdef FUZZ_EXAMPLES // set for the replay tests and fuzz_mkseeds, where emplay's examples seed the sequence reader
// A sound file of a libsndfile format (FLAC, AIFF, 24-bit or float WAV, ...) with a patterned tone.
static inline fuzz_bytes fuzz_sndfile(int format, int channels, int rate, int frames)
{
    std::vector<double> values(static_cast<size_t>(frames) * channels);
    for (size_t i = 0; i < values.size(); i++)
        values[i] = static_cast<double>(static_cast<int>(i * 7919 % 2000) - 1000) / 1100.0;
    return fuzz_take(kit_writesf("seed.tmp", format, channels, rate, values));
}

// Little-endian fields {value, bytes}, then text, then files.
static inline fuzz_bytes fuzz_input(std::vector<std::pair<uint64_t, int>> fields, const std::string& text,
                                    std::vector<fuzz_bytes> files = {})
{
    fuzz_bytes out;
    for (const auto& field : fields)
        out = fuzz_put(out, out.size(), static_cast<uint32_t>(field.first), field.second);
    out.insert(out.end(), text.begin(), text.end());
    for (const fuzz_bytes& file : files)
        out.insert(out.end(), file.begin(), file.end());
    return out;
}

// Each target's input layout is described at its LLVMFuzzerTestOneInput.
static inline std::vector<fuzz_bytes> fuzz_seeds(const std::string& target)
{
    std::vector<fuzz_bytes> seeds;
    auto asset = [](uint32_t kinds, const std::string& desc, const fuzz_bytes& alpha, const fuzz_bytes& picture) {
        return fuzz_input({{kinds, 1}, {desc.size(), 2}, {alpha.size(), 2}}, desc, {alpha, picture});
    };
    if (target == "descriptor")
        for (const char* text : {"FLAG repeat nomip\nMASK blobsalpha.bmp\nFRAME 0 0 128 128 1 2\nFRAME 128 0 9 9\n",
                                 "  FRAME\t1 2 3\r\nFLAG nofilter\n\n\nMASK  a b c  \n", "FRAMEWORK 1 2\nframe 3\nFLAG\n"})
            for (uint32_t sizes : {0x50FF48u, 0x020403u})
                seeds.push_back(fuzz_input({{sizes, 3}}, text));
    if (target == "asset")
        seeds = {asset(0, "", {}, fuzz_tga(8, 8, 4)),
                 asset(1, "FLAG repeat nofilter\n", {}, fuzz_bmp(6, 5, 3)),
                 asset(4, "MASK m.bmp\nFRAME 0 0 4 4\nFRAME 4 4 4 4 7 9\n", fuzz_bmp(8, 8, 1), fuzz_tga(8, 8, 3, true)),
                 asset(9, "MASK m.png\n", fuzz_png(6, 5, 1), fuzz_bmp(6, 5, 3)),
                 asset(2, "FRAME 1 1 2 2\n", {}, fuzz_png(5, 7, 4)),
                 asset(0, "", {}, fuzz_tga(5, 3, 1))};
    if (target == "icon")
        seeds = {fuzz_bmp(32, 32, 1), fuzz_bmp(13, 5, 1), fuzz_bmp(1, 1, 1), fuzz_bmp(8, 8, 3)};
    if (target == "wav")
        seeds = {fuzz_wav(1, 1, 22050, 8, 300), fuzz_wav(1, 2, 44100, 16, 400), fuzz_wav(1, 1, 48000, 16, 202),
                 fuzz_wav(3, 1, 44100, 32, 64), fuzz_wav(2, 1, 22050, 4, 64),   fuzz_wav(0x11, 1, 22050, 4, 64)};
    if (target == "mem") // every format the memory loader reads
        seeds = {fuzz_wav(1, 2, 44100, 16, 400),
                 fuzz_wav(1, 1, 22050, 8, 300),
                 fuzz_sndfile(SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 48000, 150),
                 fuzz_sndfile(SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2, 44100, 100),
                 fuzz_sndfile(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, 300),
                 fuzz_sndfile(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 8000, 200),
                 fuzz_sndfile(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 22050, 3000),
                 fuzz_sndfile(SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, 48000, 2000)};
    if (target == "ogg")
        for (const fuzz_bytes& file : {fuzz_ogg(1, 22050, 3000), fuzz_ogg(2, 44100, 4000)})
            for (uint32_t speed : {0x10000u, 0x28000u, 0xFFFF0000u})
                seeds.push_back(fuzz_input({{speed, 4}, {seeds.size() & 3, 1}}, "", {file}));
    if (target == "seq") { // the example, the longest sequence (4096 steps on 8 channels), comments and odd spacing
        std::string longest = "duration 176400\nsteps 4096\n";
        for (int ch = 0; ch < 8; ch++) {
            longest +=
                "channel kick.wav " + std::to_string(32 * ch) + " " + std::to_string(30 * ch - 100) + (ch & 1 ? " 1" : " 0");
            for (int step = 0; step < 4096; step++)
                longest += step % (ch + 2) ? " ." : step % 3 ? " C#5" : " " + std::to_string(step % 256);
            longest += "\n";
        }
        seeds = {fuzz_readfile(FUZZ_EXAMPLES "/beat.seq"), fuzz_input({}, longest),
                 fuzz_input({}, "# comments\r\n\nduration\t100 # frames\r\nsteps 3\nchannel /a.wav 0 -128 1 Eb3 255 .#\n")};
    }
    static const uint32_t tgas[][3] = {{4, 4, 1},     {3, 5, 0},     {0, 0, 1},        {1, 1, 0}, {65535, 2, 1},
                                       {2, 65535, 0}, {65536, 1, 1}, {0xFFFFFF, 5, 0}, {7, 3, 2}, {5, 5, 3}};
    for (const uint32_t* s : tgas) // width, height (-1 is 0xFFFFFF), depth selector
        if (target == "tga")
            seeds.push_back(fuzz_input({{s[0], 3}, {s[1], 3}, {s[2], 1}}, "pixel bytes, repeated to fill"));
    return seeds;
}
#endif

#endif
