// fuzz_seeds.h -- the seed inputs of the fuzz targets, made with the project's own
// file writers (the test picture writers, the WAV layout of the engine tests and
// the Ogg Vorbis test encoder); the replay tests run them and fuzz_mkseeds writes
// them out as the starting corpora
#pragma once

#include "tests/em/em_oggwriter.h"
#include "tests/gfx/imagefiles.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

typedef std::vector<uint8_t> fuzz_bytes;

// The bytes a writer left in a scratch file of the working directory.
static inline fuzz_bytes fuzz_slurp(const char *name)
{
    fuzz_bytes bytes;
    FILE *file = fopen(name, "rb");
    if (!file)
        return bytes;
    int c;
    while ((c = fgetc(file)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    fclose(file);
    remove(name);
    return bytes;
}

static inline void fuzz_add(fuzz_bytes &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 255));
}

static inline void fuzz_append(fuzz_bytes &out, const fuzz_bytes &more)
{
    out.insert(out.end(), more.begin(), more.end());
}

static inline void fuzz_appendtext(fuzz_bytes &out, const std::string &text)
{
    out.insert(out.end(), text.begin(), text.end());
}

static inline fuzz_bytes fuzz_tga(int32_t w, int32_t h, int32_t channels, bool topdown)
{
    quorrel_writetga("seed.tmp", quorrel_makepicture(w, h, channels, 11), topdown);
    return fuzz_slurp("seed.tmp");
}

static inline fuzz_bytes fuzz_bmp(int32_t w, int32_t h, int32_t channels)
{
    quorrel_writebmp("seed.tmp", quorrel_makepicture(w, h, channels, 13));
    return fuzz_slurp("seed.tmp");
}

static inline fuzz_bytes fuzz_png(int32_t w, int32_t h, int32_t channels)
{
    quorrel_writepng("seed.tmp", quorrel_makepicture(w, h, channels, 17));
    return fuzz_slurp("seed.tmp");
}

// A RIFF WAVE file with a plain format chunk, as the engine tests write them.
static inline fuzz_bytes fuzz_wav(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t databytes)
{
    const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    fuzz_bytes out;
    fuzz_appendtext(out, "RIFF");
    fuzz_add(out, 36 + databytes, 4);
    fuzz_appendtext(out, "WAVEfmt ");
    fuzz_add(out, 16, 4);
    fuzz_add(out, tag, 2);
    fuzz_add(out, channels, 2);
    fuzz_add(out, rate, 4);
    fuzz_add(out, rate * align, 4);
    fuzz_add(out, align, 2);
    fuzz_add(out, bits, 2);
    fuzz_appendtext(out, "data");
    fuzz_add(out, databytes, 4);
    for (uint32_t i = 0; i < databytes; i++)
        out.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
    return out;
}

static inline fuzz_bytes fuzz_ogg(int channels, long rate, long frames)
{
    if (emtest_writeogg("seed.tmp", channels, rate, frames, 440) != 0)
        return fuzz_bytes();
    return fuzz_slurp("seed.tmp");
}

// descriptor: key size, value size, line size (one byte each), then the text.
static inline std::vector<fuzz_bytes> fuzz_seeds_descriptor()
{
    const char *texts[] = {
        "FLAG repeat nomip\nMASK blobsalpha.bmp\nFRAME 0 0 128 128 1 2\nFRAME 128 0 128 128\n",
        "  FRAME\t1 2 3\r\nFLAG nofilter\n\n\nMASK  a b c  \n",
        "FRAMEWORK 1 2\nframe 3 4\nFLAG\n",
    };
    std::vector<fuzz_bytes> seeds;
    for (const char *text : texts) {
        fuzz_bytes seed = {72, 255, 80};
        fuzz_appendtext(seed, text);
        seeds.push_back(seed);
        fuzz_bytes small = {3, 4, 2};
        fuzz_appendtext(small, text);
        seeds.push_back(small);
    }
    return seeds;
}

// asset: picture and alpha kinds (bits 0-1 and 2-3 of the first byte: tga, bmp,
// png, tga), descriptor and alpha lengths (16 bits each), descriptor, alpha, picture.
static inline fuzz_bytes fuzz_assetinput(int kind, int alphakind, const std::string &desc,
                                         const fuzz_bytes &alpha, const fuzz_bytes &picture)
{
    fuzz_bytes seed;
    seed.push_back(static_cast<uint8_t>(kind | (alphakind << 2)));
    fuzz_add(seed, static_cast<uint32_t>(desc.size()), 2);
    fuzz_add(seed, static_cast<uint32_t>(alpha.size()), 2);
    fuzz_appendtext(seed, desc);
    fuzz_append(seed, alpha);
    fuzz_append(seed, picture);
    return seed;
}

static inline std::vector<fuzz_bytes> fuzz_seeds_asset()
{
    std::vector<fuzz_bytes> seeds;
    seeds.push_back(fuzz_assetinput(0, 0, "", {}, fuzz_tga(8, 8, 4, false)));
    seeds.push_back(fuzz_assetinput(0, 1, "MASK m.bmp\nFRAME 0 0 4 4\nFRAME 4 4 4 4 7 9\n", fuzz_bmp(8, 8, 1),
                                    fuzz_tga(8, 8, 3, true)));
    seeds.push_back(fuzz_assetinput(1, 0, "FLAG repeat nofilter\n", {}, fuzz_bmp(6, 5, 3)));
    seeds.push_back(fuzz_assetinput(1, 2, "MASK m.png\n", fuzz_png(6, 5, 1), fuzz_bmp(6, 5, 3)));
    seeds.push_back(fuzz_assetinput(2, 0, "FRAME 1 1 2 2\n", {}, fuzz_png(5, 7, 4)));
    seeds.push_back(fuzz_assetinput(2, 0, "", {}, fuzz_png(4, 4, 1)));
    seeds.push_back(fuzz_assetinput(0, 0, "", {}, fuzz_tga(5, 3, 1, false)));
    seeds.push_back(fuzz_assetinput(1, 0, "", {}, fuzz_bmp(9, 2, 1)));
    return seeds;
}

// icon: the bytes of icon.bmp.
static inline std::vector<fuzz_bytes> fuzz_seeds_icon()
{
    return {fuzz_bmp(32, 32, 1), fuzz_bmp(13, 5, 1), fuzz_bmp(1, 1, 1), fuzz_bmp(8, 8, 3)};
}

// wav: the bytes of a WAV file.
static inline std::vector<fuzz_bytes> fuzz_seeds_wav()
{
    return {
        fuzz_wav(1, 1, 22050, 8, 300),
        fuzz_wav(1, 2, 44100, 16, 400),
        fuzz_wav(1, 1, 48000, 16, 202),
        fuzz_wav(1, 2, 11025, 8, 64),
        fuzz_wav(3, 1, 44100, 32, 64),
        fuzz_wav(2, 1, 22050, 4, 64),
        fuzz_wav(0x11, 1, 22050, 4, 64),
    };
}

// ogg: play speed (32 bits), mode bits (0 loop, 1 switch to the same file, 2 mono
// view of the speed), then the bytes of the Ogg file.
static inline std::vector<fuzz_bytes> fuzz_seeds_ogg()
{
    std::vector<fuzz_bytes> seeds;
    const fuzz_bytes files[] = {fuzz_ogg(1, 22050, 3000), fuzz_ogg(2, 44100, 4000)};
    const uint32_t speeds[] = {0x10000, 0x28000, 0xFFFF0000u};
    int n = 0;
    for (const fuzz_bytes &file : files) {
        for (uint32_t speed : speeds) {
            fuzz_bytes seed;
            fuzz_add(seed, speed, 4);
            seed.push_back(static_cast<uint8_t>(n++ & 3));
            fuzz_append(seed, file);
            seeds.push_back(seed);
        }
    }
    return seeds;
}

// tga: width and height (24-bit signed each), depth selector, then pixel bytes.
static inline std::vector<fuzz_bytes> fuzz_seeds_tga()
{
    const int32_t sizes[][3] = {{4, 4, 1}, {3, 5, 0}, {0, 0, 1}, {1, 1, 0}, {65535, 2, 1}, {2, 65535, 0},
                                {65536, 1, 1}, {-1, 5, 0}, {7, 3, 2}, {5, 5, 3}};
    std::vector<fuzz_bytes> seeds;
    for (const auto &size : sizes) {
        fuzz_bytes seed;
        fuzz_add(seed, static_cast<uint32_t>(size[0]) & 0xFFFFFF, 3);
        fuzz_add(seed, static_cast<uint32_t>(size[1]) & 0xFFFFFF, 3);
        seed.push_back(static_cast<uint8_t>(size[2]));
        for (int i = 0; i < 64; i++)
            seed.push_back(static_cast<uint8_t>(i * 5));
        seeds.push_back(seed);
    }
    return seeds;
}

static inline std::vector<fuzz_bytes> fuzz_seeds(const std::string &target)
{
    if (target == "descriptor") return fuzz_seeds_descriptor();
    if (target == "asset") return fuzz_seeds_asset();
    if (target == "icon") return fuzz_seeds_icon();
    if (target == "wav") return fuzz_seeds_wav();
    if (target == "ogg") return fuzz_seeds_ogg();
    if (target == "tga") return fuzz_seeds_tga();
    return {};
}
