// em_harness.h -- audio engine test helpers: a paused engine driven by the test,
// console capture, WAV files and in-memory samples
#ifndef TESTS_EM_HARNESS_H
#define TESTS_EM_HARNESS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "em/em.h"
#include "em/em_local.h"
#include "tools/emplay/wavfile.h"

// Redirects standard output and error into files while alive; out() and err()
// stop the capture and give back what was written.
class emtest_capture {
public:
    emtest_capture()
    {
        fflush(stdout);
        fflush(stderr);
        for (int i = 0; i < 2; i++) {
            files_[i] = tmpfile();
            saved_[i] = dup(i + 1);
            dup2(fileno(files_[i]), i + 1);
        }
    }
    ~emtest_capture() { stop(); }
    void stop()
    {
        if (!files_[0])
            return;
        fflush(stdout);
        fflush(stderr);
        for (int i = 0; i < 2; i++) {
            dup2(saved_[i], i + 1);
            close(saved_[i]);
            rewind(files_[i]);
            char chunk[4096];
            for (size_t n; (n = fread(chunk, 1, sizeof(chunk), files_[i])) > 0;)
                text_[i].append(chunk, n);
            fclose(files_[i]);
            files_[i] = nullptr;
        }
    }
    const std::string& out()
    {
        stop();
        return text_[0];
    }
    const std::string& err()
    {
        stop();
        return text_[1];
    }

private:
    FILE* files_[2] = {};
    int saved_[2] = {-1, -1};
    std::string text_[2];
};

// Starts the engine on SDL's dummy driver and stops its device, waiting out a
// callback in flight, so that the test alone calls the callback. 0 on success.
inline int emtest_startpaused()
{
    const int result = em_init();
    if (result != 0)
        return result;
    SDL_PauseAudio(1);
    SDL_LockAudio();
    SDL_UnlockAudio();
    return 0;
}

// Runs one device buffer through the engine and returns its 16-bit values.
inline std::vector<int16_t> emtest_render()
{
    std::vector<int16_t> out(static_cast<size_t>(emstate.samples) * 2, 0x5555);
    em_audiocallback(nullptr, reinterpret_cast<Uint8*>(out.data()), static_cast<int>(out.size() * 2));
    return out;
}

// One buffer rendered, then the mix buffer of the node with this handle.
inline std::vector<int32_t> emtest_mixof(int handle)
{
    emtest_render();
    const int32_t* buffer = em_getnode(handle)->mixbuf;
    return std::vector<int32_t>(buffer, buffer + emstate.samples * 2);
}

// A test node adding a caller-owned block of samples x 2 values to its parent's mix.
inline void emtest_sourceprocess(em_node* node)
{
    const int32_t* values = static_cast<const int32_t*>(node->data);
    int32_t* out = node->parent->mixbuf;
    for (int32_t i = 0; out && i < emstate.samples * 2; i++)
        out[i] = em_add32(out[i], values[i]);
}

inline em_node* emtest_addsource(em_node* parent, const int32_t* values)
{
    em_node* node = em_createnode(nullptr);
    node->data = const_cast<int32_t*>(values);
    node->process = emtest_sourceprocess;
    em_attachnode(node, parent);
    return node;
}

// Makes a fresh temporary folder for test files and removes it when done.
class emtest_tempdir {
public:
    emtest_tempdir()
    {
        char pattern[] = "/tmp/emtest.XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "/tmp";
    }
    ~emtest_tempdir()
    {
        const std::string command = "rm -rf '" + path_ + "'";
        if (path_ != "/tmp" && system(command.c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", path_.c_str());
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes a RIFF WAVE file with a plain "fmt " chunk and the given data bytes.
inline void emtest_writewav(const std::string& path, uint16_t formattag, uint16_t channels, uint32_t rate, uint16_t bits,
                            const std::vector<uint8_t>& data)
{
    const wavfile_format format = {formattag, channels, rate, bits};
    ASSERT_TRUE(wavfile_write(path.c_str(), format, data.data(), static_cast<uint32_t>(data.size()))) << path;
}

// Little-endian bytes of 16-bit values.
inline std::vector<uint8_t> emtest_bytes16(const std::vector<int16_t>& values)
{
    std::vector<uint8_t> bytes;
    for (const int16_t v : values) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    return bytes;
}

// A sample made in memory from 16-bit values (interleaved when stereo); its handle or 0.
inline int emtest_make(const std::vector<int16_t>& values, int channels = 1, int32_t rate = 44100)
{
    std::vector<uint8_t> bytes = emtest_bytes16(values);
    const em_sample* s = em_makesample(AUDIO_S16LSB, channels, rate, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return s ? s->handle : 0;
}

// Distinct, nonzero sample values.
inline std::vector<int16_t> emtest_values(int count)
{
    std::vector<int16_t> v;
    for (int i = 0; i < count; i++)
        v.push_back(static_cast<int16_t>((i * 7919 + 1234) % 60000 - 30000));
    return v;
}

// (value x gain) >> 8, the shift rounding toward minus infinity; gain 128 is a
// centred unity voice's share on each side.
inline int32_t emtest_scale(int32_t value, int32_t gain = 128)
{
    const int64_t p = static_cast<int64_t>(value) * gain;
    return static_cast<int32_t>(p >= 0 ? p / 256 : -((-p + 255) / 256));
}

// Engine fixture: every test starts with a paused engine and ends with it down.
class emtest_engine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(emtest_startpaused(), 0); }
    void TearDown() override
    {
        {
            emtest_capture quiet;
            em_deinit();
        }
        EXPECT_EQ(em_locknests, 0) << "the audio lock was taken while held";
    }
};

#endif
