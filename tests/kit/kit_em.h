// kit_em.h -- the test kit's audio engine part: a paused engine driven by the test (the fixture), console capture
// and samples made in memory
#ifndef TESTS_KIT_KIT_EM_H
#define TESTS_KIT_KIT_EM_H

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>

#include "em/em.h"
#include "em/em_local.h"
#include "tests/kit/kit.h"

// The standard error of the test while a kit_capture holds it, else -1.
inline int& kit_realerr()
{
    static int fd = -1;
    return fd;
}

// A failure reported while the output is captured would vanish with it: the kit's listener also writes it to the
// test's real standard error.
class kit_failurewitness : public testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult& result) override
    {
        if (result.failed() && kit_realerr() >= 0)
            dprintf(kit_realerr(), "%s:%d: Failure (while the output was captured)\n%s\n",
                    result.file_name() ? result.file_name() : "?", result.line_number(), result.message());
    }
};
inline const bool kit_witnessing = (testing::UnitTest::GetInstance()->listeners().Append(new kit_failurewitness), true);

// Redirects standard output and error into files while alive; out() and err() stop and give back what was written.
class kit_capture {
public:
    kit_capture()
    {
        fflush(nullptr);
        for (int i = 0; i < 2; i++)
            files_[i] = tmpfile(), saved_[i] = dup(i + 1), dup2(fileno(files_[i]), i + 1);
        kit_realerr() = saved_[1];
    }
    ~kit_capture() { stop(); }
    void stop()
    {
        fflush(nullptr);
        for (int i = 0; i < 2 && files_[i]; i++) {
            dup2(saved_[i], i + 1), close(saved_[i]), rewind(files_[i]);
            kit_realerr() = -1;
            for (int c; (c = fgetc(files_[i])) != EOF;)
                text_[i] += static_cast<char>(c);
            fclose(files_[i]), files_[i] = nullptr;
        }
    }
    const std::string& out() { return stop(), text_[0]; }
    const std::string& err() { return stop(), text_[1]; }

private:
    FILE* files_[2] = {};
    int saved_[2] = {-1, -1};
    std::string text_[2];
};

// The engine's log lines with their levels, taken by a hook while this lives; the printing comes back after.
struct kit_loglines {
    std::vector<std::pair<int, std::string>> lines;
    kit_loglines()
    {
        em_setlogfunc(
            [](int level, const char* line, void* user) { static_cast<kit_loglines*>(user)->lines.emplace_back(level, line); },
            this);
    }
    ~kit_loglines() { em_setlogfunc(nullptr, nullptr); }
};

// Starts the engine on SDL's dummy driver and stops its device, waiting out a
// callback in flight, so that the test alone calls the callback. 0 on success.
inline int kit_startpaused()
{
    const int result = em_init();
    if (result == 0)
        SDL_PauseAudio(1), SDL_LockAudio(), SDL_UnlockAudio();
    return result;
}

// Runs device buffers through the engine and returns their 16-bit values.
inline std::vector<int16_t> kit_render(int buffers = 1)
{
    const size_t values = static_cast<size_t>(emstate.samples) * 2;
    std::vector<int16_t> out(values * buffers, 0x5555);
    for (int b = 0; b < buffers; b++)
        em_audiocallback(nullptr, reinterpret_cast<Uint8*>(&out[values * b]), emstate.samples * 4);
    return out;
}

// One buffer rendered, then the mix buffer of the node with this handle.
inline std::vector<int32_t> kit_mixof(int handle)
{
    kit_render();
    const int32_t* buffer = em_getnode(handle)->mixbuf;
    return std::vector<int32_t>(buffer, buffer + emstate.samples * 2);
}

// The left values of the mix of the node with this handle over the next buffers.
inline std::vector<int32_t> kit_left(int handle, int buffers = 1)
{
    std::vector<int32_t> out;
    for (int b = 0; b < buffers; b++) {
        const std::vector<int32_t> mix = kit_mixof(handle);
        for (int f = 0; f < emstate.samples; f++)
            out.push_back(mix[2 * f]);
    }
    return out;
}

// The level of a tone of f Hz in values taken at 44100 Hz: the Hann-windowed
// correlation with it (ratios of two levels give a gain).
inline double kit_tonelevel(const std::vector<double>& v, double f)
{
    std::complex<double> sum;
    for (size_t i = 0, n = v.size(); i < n; i++)
        sum += (0.5 - 0.5 * std::cos(2.0 * M_PI * i / n)) * v[i] * std::polar(1.0, -2.0 * M_PI * f * i / 44100.0);
    return std::abs(sum);
}

// A running sequencer under the root of one channel playing pattern's steps of sample over a pass of length frames;
// the sequencer's handle, the channel's in *channel.
inline int kit_sequencer(int steps, int32_t length, const int8_t* pattern, int sample, int* channel)
{
    const int seq = em_createsequencer(em_getroot(), 1, steps);
    em_setparam(seq, EMP_CHANNEL, 0);
    *channel = em_getparam(seq, EMP_CHANNELNODE);
    em_setparam(*channel, EMP_SAMPLE, sample);
    em_setparamp(*channel, EMP_PATTERN, pattern);
    em_setparam(seq, EMP_LENGTH, length);
    em_setparam(seq, EMP_RUN, 1);
    return seq;
}

// A test node adding a caller-owned block of samples x 2 values to its parent's mix.
inline em_node* kit_addsource(em_node* parent, const int32_t* values)
{
    em_node* node = em_createnode(nullptr);
    node->data = const_cast<int32_t*>(values);
    node->process = [](em_node* n) {
        for (int32_t i = 0; n->parent->mixbuf && i < emstate.samples * 2; i++)
            n->parent->mixbuf[i] = em_add32(n->parent->mixbuf[i], static_cast<const int32_t*>(n->data)[i]);
    };
    em_attachnode(node, parent);
    return node;
}

// A sample made in memory from 16-bit values (interleaved when stereo); its handle or 0.
inline int kit_makesample(const std::vector<int16_t>& values, int channels = 1, int32_t rate = 44100)
{
    const em_sample* s =
        em_makesample(AUDIO_S16LSB, channels, rate, kit_bytes16(values).data(), static_cast<uint32_t>(values.size() * 2));
    return s ? s->handle : 0;
}

// Distinct, nonzero sample values.
inline std::vector<int16_t> kit_values(int count)
{
    std::vector<int16_t> v(static_cast<size_t>(count));
    for (int i = 0; i < count; i++)
        v[static_cast<size_t>(i)] = static_cast<int16_t>((i * 7919 + 1234) % 60000 - 30000);
    return v;
}

// (value x gain) >> 8 rounded toward minus infinity; gain 128 is a centred unity voice's share on each side.
inline int32_t kit_scale(int32_t value, int32_t gain = 128)
{
    return static_cast<int32_t>(static_cast<int64_t>(value) * gain >> 8);
}

// Stops the engine, whose shutdown report must say that nothing is left allocated; the report.
inline std::string kit_stopengine()
{
    kit_capture report;
    em_deinit();
    const std::string out = report.out();
    EXPECT_NE(out.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << out;
    return out;
}

// Engine fixture: every test starts with a paused engine and ends with it down, nothing left allocated.
class kit_engine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(kit_startpaused(), 0); }
    void TearDown() override
    {
        kit_stopengine();
        EXPECT_EQ(em_locknests, 0) << "the audio lock was taken while held";
    }
};

#endif
