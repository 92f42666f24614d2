// fuzz_targets.cpp -- the fuzz targets, one per build (FUZZ_<target>): the descriptor and picture readers, the TGA
// writer, the engine's WAV and Ogg readers and its memory loader of every format (the target calling the mixing
// callback itself) and emplay's sequence-file reader. What comes out must be consistent and nothing may be left allocated.
#include <cstring>

#include "fuzz_common.h"
#if defined(FUZZ_wav) || defined(FUZZ_ogg) || defined(FUZZ_mem)
#include "em/em_local.h"

static int32_t fuzz_baseline;
#elif defined(FUZZ_seq)
#include "em/em.h"
#include "tools/emplay/emplay_seq.h"
#else
#include "gfx/gfx_local.h"
#include "io/io.h"
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz_enterdir();
#if defined(FUZZ_wav) || defined(FUZZ_ogg) || defined(FUZZ_mem)
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    FUZZ_CHECK(em_init() == 0, "em_init");
    SDL_PauseAudio(1), SDL_LockAudio(), SDL_UnlockAudio(); // no callback in flight: the target calls it
    fuzz_baseline = emio_getbytes();
#elif defined(FUZZ_icon)
    setenv("SDL_VIDEODRIVER", "dummy", 1); // the icon goes to SDL without a window system
    FUZZ_CHECK(SDL_Init(SDL_INIT_VIDEO) == 0, "SDL_Init: %s", SDL_GetError());
#endif
    return 0;
}

#if defined(FUZZ_wav) || defined(FUZZ_ogg) || defined(FUZZ_mem)
static void fuzz_render(int buffers)
{
    static int16_t out[8192];
    for (int i = 0; i < buffers; i++)
        em_audiocallback(nullptr, reinterpret_cast<Uint8*>(out), emstate.samples * 4);
}

// A loaded sample is well formed; a voice plays it (interpolating or not), it is freed under the playing voice.
static void fuzz_playsample(int sampler, int handle, int32_t pitch, bool interp)
{
    const em_sample* s = em_getsample(handle);
    FUZZ_CHECK(s && s->handle == handle && (s->channels == 1 || s->channels == 2), "sample record");
    FUZZ_CHECK(s->length > 0 && s->bytes == s->length * s->channels * 4, "length %d bytes %d", s->length, s->bytes);
    for (int32_t i = 0; i < s->length * s->channels; i++)
        FUZZ_CHECK(s->data[i] >= -32768 && s->data[i] <= 32767, "value %d", s->data[i]);
    const int voice = em_triggersample(sampler, handle);
    em_setparam(voice, EMP_PITCH, pitch), em_setparam(voice, EMP_INTERPOLATE, interp ? 1 : 0);
    fuzz_render(2);
    em_freesample(handle), fuzz_render(1);
}

// wav: the bytes of a WAV file, loaded into the sample bank, played by a voice and freed. mem: the bytes of a sound
// file of any format, loaded from memory, the same. ogg: speed (32 bits), mode bits (0 loop, 1 fade and switch to the
// same file, 2 the decoded sample interpolates), then the Ogg file, streamed through the music node and then decoded
// whole into the sample bank and played. The engine's allocations must come back to where they were.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
#ifdef FUZZ_wav
    FUZZ_CHECK(kit_writefile("s.wav", fuzz_bytes(data, data + size)), "write");
    const int node = em_createsampler(em_getroot(), -1);
    if (const int handle = em_loadsample("s.wav"))
        fuzz_playsample(node, handle, static_cast<int32_t>(size * 977), size & 1);
#elif defined(FUZZ_mem)
    const int node = em_createsampler(em_getroot(), -1);
    if (const int handle = em_loadsamplemem(data, static_cast<int32_t>(size)))
        fuzz_playsample(node, handle, static_cast<int32_t>(size * 977), size & 1);
    else
        FUZZ_CHECK(em_sampleerror()[0] != '\0', "a refusal without a reason");
#else
    fuzz_reader in = {data, size};
    const int32_t speed = static_cast<int32_t>(in.take(4));
    const uint32_t mode = in.take(1);
    FUZZ_CHECK(kit_writefile("m.ogg", fuzz_bytes(in.data, in.data + in.size)), "write");
    const int node = em_createoggmusic(em_getroot());
    const bool played = em_playoggmusic(node, "m.ogg") == 0;
    if (played) {
        FUZZ_CHECK(em_getparam(node, EMP_STATE) == 4, "playing and looping after a start");
        em_setparam(node, EMP_PITCH, speed), em_setparam(node, EMP_STATE, (mode & 1) ? 4 : 3);
        em_getparam(node, EMP_LENGTHMS), em_getparam(node, EMP_OUTLENGTH);
        fuzz_render(4);
        if (mode & 2) {
            em_setparam(node, EMP_VOLUME, 200), em_setparam(node, EMP_SWITCHMODE, 1);
            FUZZ_CHECK(em_playoggmusic(node, "m.ogg") == 0, "a switch is only noted");
            fuzz_render(45); // the fade takes 40 buffers
        }
        fuzz_render(4);
    }
    const int state = em_getparam(node, EMP_STATE);
    FUZZ_CHECK(state == 0 || (played && (state == 3 || state == 4)), "state %d", state);
    em_stopoggmusic(node);
    const int sampler = em_createsampler(em_getroot(), -1);
    if (const int handle = em_loadoggsample("m.ogg"))
        fuzz_playsample(sampler, handle, speed, mode & 4);
    em_freenode(sampler);
#endif
    FUZZ_CHECK(node != 0, "node");
    SDL_LockAudio();
    em_destroynode(em_getnode(node));
    SDL_UnlockAudio();
    FUZZ_CHECK(emio_getbytes() == fuzz_baseline, "%d bytes left over", emio_getbytes() - fuzz_baseline);
    return 0;
}
#elif defined(FUZZ_seq)
// The text of a sequence as emplay's reader takes it, notes as numbers.
static std::string fuzz_seqtext(const emplay_sequence& seq)
{
    std::string text = "duration " + std::to_string(seq.duration) + "\nsteps " + std::to_string(seq.steps) + "\n";
    for (const emplay_seqchannel& ch : seq.channels) {
        text += "channel " + ch.file + " " + std::to_string(ch.volume) + " " + std::to_string(ch.pan) + (ch.loop ? " 1" : " 0");
        for (const int8_t note : ch.notes)
            text += " " + std::to_string(static_cast<uint8_t>(note));
        text += "\n";
    }
    return text;
}

// The sequence-file reader on any text: what it refuses names a line of the text; what it accepts lies within the
// documented limits and reads back the same from the text written for it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    emplay_sequence seq;
    emplay_seqerror error;
    if (!emplay_parsesequence(text, size, "", &seq, &error)) {
        const size_t lines = static_cast<size_t>(std::count(text, text + size, '\n')) + 1;
        FUZZ_CHECK(!error.reason.empty() && error.line >= 0 && static_cast<size_t>(error.line) <= lines, "line %d of %zu: %s",
                   error.line, lines, error.reason.c_str());
        return 0;
    }
    FUZZ_CHECK(seq.duration >= 1 && seq.steps >= 1 && seq.steps <= EMPLAY_MAXSTEPS && seq.channels.size() <= EM_SEQCHANNELS,
               "duration %d, %d steps, %zu channels", seq.duration, seq.steps, seq.channels.size());
    for (const emplay_seqchannel& ch : seq.channels) {
        FUZZ_CHECK(!ch.file.empty() && ch.file[0] != '#' &&
                       ch.file.find_first_of(std::string(" \t\r\n\0", 5)) == std::string::npos,
                   "file name '%s'", ch.file.c_str());
        FUZZ_CHECK(ch.volume >= 0 && ch.volume <= EMPLAY_MAXVOLUME && ch.pan >= -EMPLAY_MAXPAN && ch.pan <= EMPLAY_MAXPAN,
                   "volume %d, pan %d", ch.volume, ch.pan);
        FUZZ_CHECK(ch.notes.size() == static_cast<size_t>(seq.steps) && ch.line >= 1, "%zu notes on line %d", ch.notes.size(),
                   ch.line);
    }
    const std::string written = fuzz_seqtext(seq);
    emplay_sequence back;
    FUZZ_CHECK(emplay_parsesequence(written.data(), written.size(), "", &back, &error), "the written text is refused: %d: %s",
               error.line, error.reason.c_str());
    FUZZ_CHECK(fuzz_seqtext(back) == written, "read back differently");
    return 0;
}
#elif defined(FUZZ_descriptor)
// The line readers: key, value/5 and line buffer sizes (a byte each), then the text. Each buffer has a guard byte
// past its end; keywords match whole words.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const words[6] = {"FLAG", "MASK", "FRAME", "repeat", "nomip", "nofilter"};
    fuzz_reader in = {data, size};
    const uint32_t keysize = in.take(1), valuesize = in.take(1) * 5, linesize = in.take(1);
    FUZZ_CHECK(kit_writefile("desc.ini", fuzz_bytes(in.data, in.data + in.size)), "write");
    char key[256 + 1], value[1275 + 1], line[256 + 1];
    FILE* file = io_fopen("desc.ini", "rb");
    FUZZ_CHECK(file != nullptr, "io_fopen");
    for (size_t lines = 1; !feof(file) && !ferror(file); lines++) { // the three readers by turns
        key[keysize] = value[valuesize] = line[linesize] = '#';
        if (lines % 3 == 0) {
            const int32_t found = io_readkeyword(file, key, keysize, value, valuesize, words, 3);
            FUZZ_CHECK(found < 3 && (found < 0 || strcmp(key, words[found]) == 0), "keyword %d", found);
            FUZZ_CHECK((keysize == 0 || strlen(key) < keysize) && (valuesize == 0 || strlen(value) < valuesize),
                       "key or value not terminated");
        } else if (lines % 3 == 1) {
            io_readkeyvalue(file, key, keysize, value, valuesize);
        } else {
            io_readline(file, line, linesize);
            FUZZ_CHECK(linesize == 0 || (strlen(line) < linesize && static_cast<uint8_t>(line[0] - 1) >= 32),
                       "line not terminated or leading blank kept");
        }
        FUZZ_CHECK(key[keysize] == '#' && value[valuesize] == '#' && line[linesize] == '#', "wrote past a buffer");
        FUZZ_CHECK(lines <= in.size + 1, "more lines than bytes");
    }
    io_fclose(file);
    return 0;
}
#else
// Reads every byte so that a short buffer shows.
inline void fuzz_touch(const uint8_t* bytes, size_t count)
{
    for (volatile uint8_t sum = 0; count > 0; count--)
        sum = sum + bytes[count - 1];
}
#if defined(FUZZ_asset)
// Picture kind (bits 0-1) and alpha kind (bits 2-3) of tga, bmp, png, tga; the descriptor and alpha lengths (16 bits
// each), the descriptor (no file when empty), the alpha image and the picture.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kinds[4] = {"tga", "bmp", "png", "tga"};
    fuzz_reader in = {data, size};
    const uint32_t kind = in.take(1), desc = in.take(2), alpha = in.take(2);
    const size_t desclen = std::min<size_t>(desc, in.size), alphalen = std::min<size_t>(alpha, in.size - desclen);
    for (const char* old : {"a.ini", "m.tga", "m.bmp", "m.png", "a.bmp", "a.png", "a.tga"})
        remove(old);
    const std::string name = std::string("a.") + kinds[kind & 3];
    const uint8_t *alphadata = in.data + desclen, *picture = alphadata + alphalen;
    FUZZ_CHECK(desclen == 0 || kit_writefile("a.ini", fuzz_bytes(in.data, alphadata)), "write");
    FUZZ_CHECK(alphalen == 0 || kit_writefile(std::string("m.") + kinds[(kind >> 2) & 3], fuzz_bytes(alphadata, picture)),
               "write");
    FUZZ_CHECK(kit_writefile(name, fuzz_bytes(picture, in.data + in.size)), "write");

    io_init();
    gfx_numimages = 0;
    gfx_images = static_cast<gfx_image**>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image*), 201));
    if (gfx_image* image = gfx_loadasset(name.c_str(), 1)) {
        FUZZ_CHECK((image->bpp == 8 || image->bpp == 24 || image->bpp == 32) && image->width >= 0 && image->height >= 0 &&
                       image->pitch == image->width * (image->bpp / 8) && image->numframes >= 1 && image->frames &&
                       strlen(image->name) < GFX_NAMELEN,
                   "%dx%d at %d bits, pitch %d, %d frames", image->width, image->height, image->bpp, image->pitch,
                   image->numframes);
        fuzz_touch(image->pixels, static_cast<size_t>(image->pitch) * image->height);
        fuzz_touch(reinterpret_cast<const uint8_t*>(image->frames), sizeof(*image->frames) * image->numframes);
        FUZZ_CHECK(gfx_numimages == 1 && gfx_images[0] == image, "listed once");
        FUZZ_CHECK(gfx_getasset("%s", name.c_str()) == image, "found again by its name");
    } else {
        FUZZ_CHECK(gfx_numimages == 0, "a refused asset stays unlisted");
    }
    gfx_freeallimages();
    io_free(gfx_images);
    gfx_images = nullptr;
#elif defined(FUZZ_icon)
// Any "icon.bmp" through gfx_seticon (SDL's BMP reader, then the mask), and the mask on its own for whatever surface
// the reader made.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_CHECK(kit_writefile("icon.bmp", fuzz_bytes(data, data + size)), "write");
    io_init();
    gfx_seticon();
    FUZZ_CHECK(inout.curbytes == 0, "%d bytes left allocated", inout.curbytes);
    if (SDL_Surface* icon = SDL_LoadBMP("icon.bmp")) {
        uint8_t* mask = gfx_iconmask(icon);
        FUZZ_CHECK(!mask || (icon->format->BitsPerPixel == 8 && icon->pitch >= icon->w),
                   "a mask read from rows of %d bytes for %d pixels of %d bits", icon->pitch, icon->w,
                   icon->format->BitsPerPixel);
        if (mask) {
            fuzz_touch(mask, (static_cast<size_t>(icon->w) + 7) / 8 * static_cast<size_t>(icon->h));
            io_free(mask);
        }
        SDL_FreeSurface(icon);
    }
#elif defined(FUZZ_tga)
// The TGA writer: width and height (24-bit signed each), a depth selector, then pixel bytes repeated to fill the
// image. What it writes must read back as the same picture, what it cannot describe it must not write (an image too
// large to make gets a one-byte buffer), and the image must stay as it was.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int32_t depths[4] = {24, 32, 8, 16};
    fuzz_reader in = {data, size};
    const int32_t width = static_cast<int32_t>(in.take(3) << 8) >> 8, height = static_cast<int32_t>(in.take(3) << 8) >> 8;
    const int32_t bpp = depths[in.take(1) & 3], step = bpp / 8;
    const bool describable = (bpp == 24 || bpp == 32) && width >= 0 && height >= 0 && width <= 65535 && height <= 65535;
    const int64_t bytes = static_cast<int64_t>(width) * height * step;
    const bool small = width >= 0 && height >= 0 && bytes <= (1 << 20);
    remove("out.tga");
    io_init();
    uint8_t pixel = 0x5A;
    gfx_image record = {};
    record.width = width, record.height = height, record.bpp = bpp, record.pixels = &pixel;
    record.pitch = static_cast<int32_t>(static_cast<uint32_t>(width) * static_cast<uint32_t>(step));
    gfx_image* image = small ? gfx_createimage("fuzz", width, height, bpp, 0) : &record;
    FUZZ_CHECK(image != nullptr, "createimage %dx%d at %d", width, height, bpp);
    for (int64_t i = 0; small && i < bytes; i++)
        image->pixels[i] = in.size > 0 ? in.data[i % static_cast<int64_t>(in.size)] : static_cast<uint8_t>(i);
    const fuzz_bytes before(image->pixels, image->pixels + (small ? bytes : 1));
    if (small || !describable)
        gfx_writetga("out.tga", image);
    FUZZ_CHECK(fuzz_bytes(image->pixels, image->pixels + before.size()) == before, "image changed");
    const fuzz_bytes file = fuzz_readfile("out.tga");
    FUZZ_CHECK(file.empty() == !(describable && small), "%zu bytes for %dx%d at %d", file.size(), width, height, bpp);
    FUZZ_CHECK(file.empty() || (static_cast<int64_t>(file.size()) == 18 + bytes && file[2] == 2 && file[16] == bpp &&
                                (file[12] | (file[13] << 8)) == width && (file[14] | (file[15] << 8)) == height),
               "header or size");
    for (int64_t i = 0; i + 18 < static_cast<int64_t>(file.size()); i++) // blue and red swapped
        FUZZ_CHECK(file[18 + i] == before[i % step == 3 ? i : i - 2 * (i % step) + 2], "byte %lld", static_cast<long long>(i));
    if (small)
        gfx_freeimage(image);
#endif
    FUZZ_CHECK(inout.curbytes == 0, "%d bytes left allocated", inout.curbytes);
    io_deinit();
    return 0;
}
#endif
