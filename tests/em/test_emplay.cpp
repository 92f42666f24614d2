// test_emplay.cpp -- the emplay example renders exactly what the engine mixes
#include <sys/wait.h>

#include "em_harness.h"
#include "em_oggwriter.h"

namespace {

// Runs emplay with arguments; its exit status, or -1.
int emtest_emplay(const std::string& args)
{
    const std::string command = std::string(EMPLAY_PATH) + " " + args + " > /dev/null 2>&1";
    const int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> emtest_readfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Emplay, RenderMatchesTheEngineDrivenDirectly)
{
    emtest_tempdir dir;
    const std::string wav = dir.file("voice.wav");
    const std::string ogg = dir.file("music.ogg");
    const std::string out = dir.file("out.wav");
    std::vector<int16_t> values;
    for (int i = 0; i < 30000; i++)
        values.push_back(static_cast<int16_t>((i * 7919) % 20000 - 10000));
    emtest_writewav(wav, 1, 1, 22050, 16, emtest_bytes16(values));
    ASSERT_EQ(emtest_writeogg(ogg, 2, 44100, 60000, 440), 0);
    ASSERT_EQ(emtest_emplay("-v 200 -p 40 -r 1.25 -o " + out + " " + wav + " " + ogg), 0);

    // The same engine calls, mixed here buffer by buffer.
    ASSERT_EQ(emtest_startpaused(), 0);
    const int sampler = em_createsampler(em_getroot(), -1);
    em_setparam(sampler, EMP_DEFVOLUME, 200);
    em_setparam(sampler, EMP_DEFPAN, 40);
    em_setparam(sampler, EMP_DEFPITCH, 81920);
    em_setparam(sampler, EMP_LOOP, 0);
    ASSERT_NE(em_triggersample(sampler, em_loadsample(wav.c_str())), 0);
    const int music = em_createoggmusic(em_getroot());
    em_setparam(music, EMP_VOLUME, 200);
    em_setparam(music, EMP_PITCH, 81920);
    ASSERT_EQ(em_playoggmusic(music, ogg.c_str()), 0);
    em_setparam(music, EMP_STATE, 3);
    std::vector<int16_t> expected;
    while (em_getchild(sampler) != 0 || em_getparam(music, EMP_STATE) > 0) {
        const std::vector<int16_t> one = emtest_render();
        expected.insert(expected.end(), one.begin(), one.end());
    }
    {
        emtest_capture quiet;
        em_deinit();
    }

    const std::vector<uint8_t> file = emtest_readfile(out);
    ASSERT_EQ(file.size(), 44 + expected.size() * 2);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(file[22] | (file[23] << 8), 2);                   // channels
    EXPECT_EQ(file[24] | (file[25] << 8) | (file[26] << 16), 44100);
    EXPECT_EQ(std::vector<int16_t>(expected.begin(), expected.end()),
              std::vector<int16_t>(reinterpret_cast<const int16_t*>(file.data() + 44),
                                   reinterpret_cast<const int16_t*>(file.data() + file.size())));
    // the rendered file loads back as a sample of the same length
    ASSERT_EQ(em_init(), 0);
    const int back = em_loadsample(out.c_str());
    ASSERT_NE(back, 0);
    EXPECT_EQ(em_getsample(back)->length, static_cast<int32_t>(expected.size() / 2));
    emtest_capture quiet;
    em_deinit();
}

TEST(Emplay, RefusesWhatItCannotPlay)
{
    emtest_tempdir dir;
    EXPECT_EQ(emtest_emplay(""), 2);
    EXPECT_EQ(emtest_emplay("-x " + dir.file("a.wav")), 2);
    EXPECT_EQ(emtest_emplay("-l -o " + dir.file("o.wav") + " " + dir.file("a.wav")), 2);  // endless render
    EXPECT_EQ(emtest_emplay("-o " + dir.file("o.wav") + " " + dir.file("missing.wav")), 1);
    EXPECT_EQ(emtest_emplay("-o " + dir.file("o.wav") + " " + dir.file("missing.ogg")), 1);
}

// The shipped examples folder.
std::string emtest_examples()
{
    const char* source = getenv("QUORREL_SOURCE_DIR");
    return std::string(source ? source : ".") + "/tools/emplay/examples/";
}

// 16-bit stereo frames of a rendered WAV file (after its 44-byte header).
std::vector<int16_t> emtest_frames(const std::vector<uint8_t>& file)
{
    if (file.size() < 44)
        return {};
    return std::vector<int16_t>(reinterpret_cast<const int16_t*>(file.data() + 44),
                                reinterpret_cast<const int16_t*>(file.data() + file.size()));
}

TEST(Emplay, SequenceExampleRendersTheSameBytesTwice)
{
    emtest_tempdir dir;
    const std::string args = "-s " + emtest_examples() + "beat.seq -o ";
    ASSERT_EQ(emtest_emplay(args + dir.file("one.wav")), 0);
    ASSERT_EQ(emtest_emplay(args + dir.file("two.wav")), 0);
    const std::vector<uint8_t> one = emtest_readfile(dir.file("one.wav"));
    EXPECT_EQ(one, emtest_readfile(dir.file("two.wav")));
    // two passes of 88200 frames, in whole buffers of 1024
    ASSERT_EQ(one.size(), 44u + 173u * 1024u * 4u);
    const std::vector<int16_t> frames = emtest_frames(one);
    int loud = 0;
    for (const int16_t v : frames)
        loud += v > 4000 || v < -4000;
    EXPECT_GT(loud, 10000);
}

TEST(Emplay, ShippedWavsAreWhatTheGeneratorWrites)
{
    emtest_tempdir dir;
    const std::string command = std::string(EMPLAY_MKWAVS_PATH) + " " + dir.file("");
    ASSERT_EQ(system(command.c_str()), 0);
    for (const char* name : {"kick.wav", "hat.wav", "bass.wav", "tone.wav"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> made = emtest_readfile(dir.file(name));
        EXPECT_GT(made.size(), 1000u);
        EXPECT_EQ(made, emtest_readfile(emtest_examples() + name));
    }
}

TEST(Emplay, ThreeDimensionalDemoPaths)
{
    emtest_tempdir dir;
    const std::string tone = emtest_examples() + "tone.wav";
    // fly-past: heard on the left only at the start and on the right only at the end
    ASSERT_EQ(emtest_emplay("-3 flyby -o " + dir.file("fly.wav") + " " + tone), 0);
    const std::vector<int16_t> fly = emtest_frames(emtest_readfile(dir.file("fly.wav")));
    ASSERT_EQ(fly.size(), 173u * 1024u * 2u);   // four seconds
    int32_t firstleft = 0, firstright = 0, lastleft = 0, lastright = 0;
    for (size_t f = 0; f < 1024; f++) {
        firstleft += std::abs(fly[2 * f]);
        firstright += std::abs(fly[2 * f + 1]);
        lastleft += std::abs(fly[fly.size() - 2 * f - 2]);
        lastright += std::abs(fly[fly.size() - 2 * f - 1]);
    }
    EXPECT_GT(firstleft, 1000000);
    EXPECT_EQ(firstright, 0);
    EXPECT_EQ(lastleft, 0);
    EXPECT_GT(lastright, 1000000);
    // circle: two laps of three seconds
    ASSERT_EQ(emtest_emplay("-3 circle -t 1 -o " + dir.file("circle.wav") + " " + tone), 0);
    EXPECT_EQ(emtest_frames(emtest_readfile(dir.file("circle.wav"))).size(), 44u * 1024u * 2u);
}

// Runs emplay on a sequence file with the given lines; its status and its
// standard error.
int emtest_sequence(const emtest_tempdir& dir, const std::string& lines, std::string* err)
{
    const std::string seq = dir.file("bad.seq");
    std::ofstream(seq) << lines;
    const std::string errfile = dir.file("err.txt");
    const std::string command = std::string(EMPLAY_PATH) + " -s " + seq + " -o " + dir.file("o.wav") + " > /dev/null 2> " + errfile;
    const int status = system(command.c_str());
    const std::vector<uint8_t> text = emtest_readfile(errfile);
    *err = std::string(text.begin(), text.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Emplay, SequenceFilesThatAreRefused)
{
    emtest_tempdir dir;
    const std::string seq = dir.file("bad.seq");
    const std::string head = "duration 1000\nsteps 2\n";
    const struct { std::string lines; std::string message; } cases[] = {
        {"steps 2\nchannel a.wav 256 0 0 A4 .\n", "2: duration and steps are both needed"},
        {"duration 100\nchannel a.wav 256 0 0 A4 .\n", "2: steps must come before the channels"},
        {head + "channel a.wav 256 0 0 A4\n", "3: a channel needs one note per step"},
        {head + "channel a.wav 256 0 0 A4 H2\n", "3: a note is ., 0..255 or a name such as A4, C#5, Eb3 (C-1 .. G9)"},
        {head + "channel a.wav 256 300 0 A4 .\n", "3: pan must be -128..128"},
        {head + "channel a.wav 256 0 2 A4 .\n", "3: loop must be 0 or 1"},
        {"duration 0\n", "1: duration must be 1 or more output frames"},
        {"tempo 120\n", "1: unknown keyword (duration, steps, channel)"},
        {"steps 3 4\n", "1: unexpected text after the value"},
        {head +
             "channel a.wav 1 0 0 . .\nchannel a.wav 1 0 0 . .\nchannel a.wav 1 0 0 . .\nchannel a.wav 1 0 0 . .\n"
             "channel a.wav 1 0 0 . .\nchannel a.wav 1 0 0 . .\nchannel a.wav 1 0 0 . .\nchannel a.wav 1 0 0 . .\n"
             "channel a.wav 1 0 0 . .\n",
         "11: more than 8 channels"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        std::string err;
        EXPECT_EQ(emtest_sequence(dir, c.lines, &err), 1);
        EXPECT_EQ(err, "emplay: " + seq + ":" + c.message + "\n");
    }
    // a sample that cannot be loaded: the file reads well, the start fails
    std::string err;
    EXPECT_EQ(emtest_sequence(dir, head + "channel missing.wav 256 0 0 C#5 Eb3\n", &err), 1);
    EXPECT_NE(err.find("emplay: can't load " + dir.file("missing.wav")), std::string::npos);
    // sequences take no other files and no 3-D path; unknown paths are refused
    EXPECT_EQ(emtest_emplay("-s " + seq + " " + dir.file("a.wav")), 2);
    EXPECT_EQ(emtest_emplay("-s " + seq + " -3 circle"), 2);
    EXPECT_EQ(emtest_emplay("-3 spiral " + dir.file("a.wav")), 2);
}

}  // namespace
