// em_harness.h -- shared helpers for the audio engine tests: a paused engine
// whose callback the test drives, console capture, WAV writing, source nodes
#ifndef TESTS_EM_HARNESS_H
#define TESTS_EM_HARNESS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "em/em.h"
#include "em/em_local.h"

// Redirects standard output and error into files while alive; stop() gives
// back what was written.
class emtest_capture {
public:
    emtest_capture() { start(); }
    ~emtest_capture() { stop(); }

    void stop()
    {
        if (!active_)
            return;
        fflush(stdout);
        fflush(stderr);
        dup2(savedout_, 1);
        dup2(savederr_, 2);
        close(savedout_);
        close(savederr_);
        out_ = slurp(outfile_);
        err_ = slurp(errfile_);
        fclose(outfile_);
        fclose(errfile_);
        active_ = false;
    }
    const std::string& out() { stop(); return out_; }
    const std::string& err() { stop(); return err_; }

private:
    void start()
    {
        fflush(stdout);
        fflush(stderr);
        outfile_ = tmpfile();
        errfile_ = tmpfile();
        savedout_ = dup(1);
        savederr_ = dup(2);
        dup2(fileno(outfile_), 1);
        dup2(fileno(errfile_), 2);
        active_ = true;
    }
    static std::string slurp(FILE* f)
    {
        std::string text;
        rewind(f);
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0)
            text.append(chunk, n);
        return text;
    }
    FILE* outfile_ = nullptr;
    FILE* errfile_ = nullptr;
    int savedout_ = -1;
    int savederr_ = -1;
    bool active_ = false;
    std::string out_, err_;
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

// A test node that adds a caller-owned block of samples x 2 values into its
// parent's mix buffer every buffer. The block must outlive the node.
inline void emtest_sourceprocess(em_node* node)
{
    const int32_t* values = static_cast<const int32_t*>(node->data);
    int32_t* out = node->parent->mixbuf;
    if (!out)
        return;     // a parent without a mix buffer silences its children
    for (int32_t i = 0; i < emstate.samples * 2; i++)
        out[i] = em_add32(out[i], values[i]);
}

inline em_node* emtest_addsource(em_node* parent, const int32_t* values)
{
    em_node* node = em_createnode(nullptr);
    if (!node)
        return nullptr;
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
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "/tmp";
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

static inline void emtest_put16(std::string& s, uint16_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

static inline void emtest_put32(std::string& s, uint32_t v)
{
    emtest_put16(s, static_cast<uint16_t>(v & 0xFFFF));
    emtest_put16(s, static_cast<uint16_t>(v >> 16));
}

// Writes a RIFF WAVE file with a plain "fmt " chunk and the given data bytes.
inline void emtest_writewav(const std::string& path, uint16_t formattag, uint16_t channels, uint32_t rate,
                            uint16_t bits, const std::vector<uint8_t>& data)
{
    std::string fmt;
    emtest_put16(fmt, formattag);
    emtest_put16(fmt, channels);
    emtest_put32(fmt, rate);
    const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    emtest_put32(fmt, rate * align);
    emtest_put16(fmt, align);
    emtest_put16(fmt, bits);
    std::string wav = "RIFF";
    emtest_put32(wav, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size()));
    wav += "WAVEfmt ";
    emtest_put32(wav, static_cast<uint32_t>(fmt.size()));
    wav += fmt;
    wav += "data";
    emtest_put32(wav, static_cast<uint32_t>(data.size()));
    wav.append(data.begin(), data.end());
    std::ofstream(path, std::ios::binary).write(wav.data(), static_cast<std::streamsize>(wav.size()));
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

// Engine fixture: every test starts with a paused engine and ends with it down,
// whatever the test's outcome.
class emtest_engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(emtest_startpaused(), 0);
    }
    void TearDown() override
    {
        emtest_capture quiet;
        em_deinit();
    }
};

#endif
