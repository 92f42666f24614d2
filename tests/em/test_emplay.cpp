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

}  // namespace
