// test_voicefilters.cpp -- a voice's own low-pass and high-pass against the Butterworth response, off changing nothing,
// refusals, a swept cutoff without clicks; the music node's interpolation on an upsampled stream
#include <cmath>

#include "tests/kit/kit_em.h"
#include "tools/mixgen/oggwriter.h"

namespace {

using VoiceFilters = kit_engine;
const int32_t FRAMES = 1024;

// A looping voice of a one-second sample of f Hz (amplitude 16000) under a new sampler (3-D sampler: d3) of its own.
int emtest_sinevoice(double f, bool d3 = false)
{
    std::vector<int16_t> v(44100);
    for (size_t i = 0; i < v.size(); i++)
        v[i] = static_cast<int16_t>(16000.0 * std::sin(2.0 * M_PI * f * static_cast<double>(i) / 44100.0));
    const int node = d3 ? em_createsampler3d(em_getroot(), -1) : em_createsampler(em_getroot(), -1);
    em_setparam(node, d3 ? EMP_DEFFLAGS : EMP_LOOP, d3 ? static_cast<int32_t>(EMF_LOOP) : 1);
    return d3 ? em_triggersample3d(node, kit_makesample(v)) : em_triggersample(node, kit_makesample(v));
}

// The left side of a voice's node's buffer.
std::vector<double> emtest_left(int voice)
{
    const int32_t* mix = em_getnode(em_getparent(voice))->mixbuf;
    std::vector<double> left(FRAMES);
    for (int32_t i = 0; i < FRAMES; i++)
        left[i] = mix[2 * i];
    return left;
}

// The gain of a 1 kHz corner at f: -10 log10(1 + r^4), r = tan(pi f / rate) / tan(pi 1000 / rate), or its inverse
// for the high-pass, the bilinear Butterworth response with the corner prewarped (computed on its own).
TEST_F(VoiceFilters, ASineLosesWhatTheButterworthResponseSays)
{
    const struct {
        int id;
        double f, db;
        bool d3;
    } rows[] = {{EMP_LOWPASS, 250, -0.017, false},   {EMP_LOWPASS, 1000, -3.010, false},  {EMP_LOWPASS, 4000, -24.548, false},
                {EMP_HIGHPASS, 250, -24.127, false}, {EMP_HIGHPASS, 1000, -3.010, false}, {EMP_HIGHPASS, 4000, -0.015, false},
                {EMP_LOWPASS, 4000, -24.548, true},  {EMP_HIGHPASS, 250, -24.127, true}};
    for (const auto& r : rows) {
        const int plain = emtest_sinevoice(r.f, r.d3), filtered = emtest_sinevoice(r.f, r.d3);
        ASSERT_EQ(em_setparamf(filtered, r.id, 1000.0f), 0);
        std::vector<double> in, out;
        for (int b = 0; b < 20; b++) {
            kit_render();
            const std::vector<double> a = emtest_left(plain), c = emtest_left(filtered);
            if (b >= 4) // settled
                in.insert(in.end(), a.begin(), a.end()), out.insert(out.end(), c.begin(), c.end());
        }
        EXPECT_NEAR(20.0 * std::log10(kit_tonelevel(out, r.f) / kit_tonelevel(in, r.f)), r.db, 0.1)
            << r.id << " " << r.f << " " << r.d3;
        em_freenode(em_getparent(plain)), em_freenode(em_getparent(filtered));
    }
}

// Corners of 0 change no value; a filter switched off fades out over one buffer and leaves the very values of a voice
// never filtered; silence leaves the filter's memory at exact zero, never a denormal.
TEST_F(VoiceFilters, OffChangesNothingAndATailEndsInExactZero)
{
    const int plain = emtest_sinevoice(440), other = emtest_sinevoice(440);
    EXPECT_EQ(em_setparamf(other, EMP_LOWPASS, 0.0f) + em_setparamf(other, EMP_HIGHPASS, 0.0f), 0);
    const auto same = [&] { return kit_render(), emtest_left(plain) == emtest_left(other); };
    EXPECT_TRUE(same() && same());
    EXPECT_EQ(em_setparamf(other, EMP_HIGHPASS, 2000.0f), 0);
    EXPECT_FALSE(same() || same());
    EXPECT_EQ(em_setparamf(other, EMP_HIGHPASS, 0.0f), 0);
    EXPECT_FALSE(same()) << "the fade-out";
    EXPECT_TRUE(same() && same());
    em_setparamf(other, EMP_LOWPASS, 30.0f), kit_render(), em_setparam(other, EMP_VOLUME, 0), kit_render(12);
    const em_voicestage& st = static_cast<em_schannel*>(em_getnode(other)->data)->filter.stage[0];
    for (const double* m : st.hist)
        EXPECT_TRUE(m[0] == 0.0 && m[1] == 0.0 && m[2] == 0.0 && m[3] == 0.0);
}

// Not finite, negative, between 0 and 1 Hz or past the Nyquist frequency: refused, the corner kept; the edges taken.
// (No memory for the filters' buffer: the allocation-failure sweep.)
TEST_F(VoiceFilters, BadCornersAreRefusedChangingNothing)
{
    for (const int voice : {emtest_sinevoice(440), emtest_sinevoice(440, true)})
        for (const int id : {EMP_LOWPASS, EMP_HIGHPASS}) {
            ASSERT_EQ(em_setparamf(voice, id, 800.0f), 0);
            for (const float bad : {NAN, INFINITY, -INFINITY, -1.0f, 0.5f, 22050.5f, 1e30f})
                EXPECT_EQ(em_setparamf(voice, id, bad), -1) << bad;
            EXPECT_EQ(em_getparamf(voice, id), 800.0f);
            EXPECT_EQ(em_setparamf(voice, id, 1.0f) + em_setparamf(voice, id, 22050.0f), 0);
        }
}

// A 440 Hz voice whose low-pass corner sweeps between 200 Hz and 12 kHz every buffer while its high-pass switches on
// and off: no output step larger than the tone's own but for the 2% a moving filter may add (corners that jumped
// instead of gliding make steps 20 times that). Corners jumping between 1 Hz and the Nyquist frequency every buffer
// keep the output within 1.5 times the tone's peak (the glides overshoot by a third, and no more over 600 buffers).
TEST_F(VoiceFilters, ACornerMovedEveryBufferMakesNoStepLargerThanTheSignals)
{
    for (const int pattern : {0, 1}) {
        const int plain = emtest_sinevoice(440), voice = emtest_sinevoice(440);
        double instep = 0, peak = 0, last = 0, worst = -1e9; // the output's step past the input's, or its peak past
        for (int b = 0; b < 60; b++) {
            const double sweep = 200.0 * std::pow(60.0, std::abs(b % 20 - 10) / 10.0), jump = b % 2 ? 1.0 : 22050.0;
            em_setparamf(voice, EMP_LOWPASS, static_cast<float>(pattern ? jump : sweep));
            em_setparamf(voice, EMP_HIGHPASS, pattern ? static_cast<float>(22051.0 - jump) : b % 6 < 3 ? 100.0f : 0.0f);
            kit_render();
            const std::vector<double> in = emtest_left(plain), out = emtest_left(voice);
            for (int32_t i = 0; i < FRAMES; last = out[i++]) {
                instep = std::max(instep, i ? std::abs(in[i] - in[i - 1]) : 0.0), peak = std::max(peak, std::abs(in[i]));
                worst = std::max(worst, pattern ? std::abs(out[i]) - peak : b ? std::abs(out[i] - last) - instep : -1e9);
            }
        }
        EXPECT_LE(worst, pattern ? 0.5 * peak : 0.02 * instep) << "pattern " << pattern;
        em_freenode(em_getparent(plain)), em_freenode(em_getparent(voice));
    }
}

// A stream at a quarter of the rate: by default each of its frames is heard four times; interpolated,
// the output passes through every frame and on a straight line, a quarter of the way a frame, to the next.
TEST_F(VoiceFilters, MusicInterpolatedTurnsAnUpsampledStreamIntoStraightLines)
{
    const kit_tempdir dir;
    ASSERT_EQ(mixgen_writeogg(dir.file("q.ogg"), 1, 11025, 11025, 300), 0);
    const std::vector<int16_t> d = mixgen_decodeogg(dir.file("q.ogg"));
    const int music = em_createoggmusic(em_getroot());
    EXPECT_EQ(em_getparam(music, EMP_INTERPOLATE), 0);
    for (const int interp : {0, 1}) {
        ASSERT_EQ(em_playoggmusic(music, dir.file("q.ogg").c_str()), 0);
        EXPECT_EQ(em_setparam(music, EMP_INTERPOLATE, interp), 0);
        EXPECT_EQ(em_setparam(music, EMP_INTERPOLATE, 2) + em_setparam(music, EMP_INTERPOLATE, -1), -2);
        EXPECT_EQ(em_getparam(music, EMP_INTERPOLATE), interp);
        const std::vector<int16_t> out = kit_render(10); // two fills of the stream
        for (size_t j = 0; j + 1 < out.size() / 8; j++)
            for (int m = 0; m < 4; m++) {
                const int32_t at = out[8 * j + 2 * m], rise = d[j + 1] - d[j];
                EXPECT_EQ(at, interp ? d[j] + static_cast<int32_t>(std::floor(rise * m / 4.0)) : d[j]) << j << " " << m;
                ASSERT_EQ(at, out[8 * j + 2 * m + 1]);
            }
    }
}

} // namespace
