// test_device.cpp -- engine start and stop, result codes, clocks, the callback and limiter
#include <chrono>
#include <future>
#include <thread>

#include "em_harness.h"

namespace {

using Device = emtest_engine;

// Expected limiter output for one mix value, from the curve's definition.
struct emtest_limitcase {
    int32_t in;
    int16_t out;
};

const emtest_limitcase emtest_limits[] = {
    {0, 0}, {1, 1}, {-1, -1}, {16384, 16384}, {16385, 16385}, {20000, 19347},
    {32767, 24576}, {32768, 24576}, {65536, 28672}, {131072, 30720}, {1048576, 32512},
    {268435456, 32767}, {268435457, 32767}, {INT32_MAX, 32767},
    {-16384, -16384}, {-16385, -16385}, {-20000, -19347}, {-32768, -24576},
    {-65536, -28672}, {-131072, -30720}, {-1048576, -32512}, {-268435456, -32767},
    {-268435457, -32767}, {INT32_MIN, -32767},
};

TEST_F(Device, CallbackShapesTheRootMixThroughTheLimiter)
{
    std::vector<int32_t> values(static_cast<size_t>(emstate.samples) * 2, 0);
    const size_t cases = sizeof(emtest_limits) / sizeof(emtest_limits[0]);
    for (size_t i = 0; i < values.size(); i++)
        values[i] = emtest_limits[i % cases].in;
    ASSERT_NE(emtest_addsource(emstate.root, values.data()), nullptr);
    const std::vector<int16_t> out = emtest_render();
    for (size_t i = 0; i < out.size(); i++)
        ASSERT_EQ(out[i], emtest_limits[i % cases].out) << "mix value " << values[i];
}

TEST_F(Device, LimiterIsMonotonicAndNeverWritesMinus32768)
{
    int16_t last = em_limit(-400000000);
    for (int64_t v = -400000000; v <= 400000000; v += 997) {
        const int16_t out = em_limit(static_cast<int32_t>(v));
        ASSERT_GE(out, last);
        ASSERT_NE(out, -32768);
        last = out;
    }
}

TEST_F(Device, BufferSizeAndSampleClockAdvance)
{
    EXPECT_EQ(emstate.freq, 44100);
    EXPECT_EQ(emstate.samples, 1024);
    const uint32_t before = emstate.samplepos;
    emtest_render();
    EXPECT_EQ(emstate.samplepos, before + 1024);
    emtest_render();
    EXPECT_EQ(emstate.samplepos, before + 2048);
    const uint32_t clock = em_getsampleclock();
    EXPECT_GE(clock, before + 2048);
    EXPECT_LT(clock, before + 2048 + 44100);
}

TEST_F(Device, SilenceWithoutSourcesAndWithoutRoot)
{
    for (const int16_t v : emtest_render())
        ASSERT_EQ(v, 0);
    em_node* root = emstate.root;
    emstate.root = nullptr;
    const uint32_t before = emstate.samplepos;
    const std::vector<int16_t> out = emtest_render();
    emstate.root = root;
    for (const int16_t v : out)
        ASSERT_EQ(v, 0);
    EXPECT_EQ(emstate.samplepos, before);
}

TEST_F(Device, OversizedDeviceRequestIsFilledWithoutReadingPastTheMix)
{
    std::vector<int32_t> values(static_cast<size_t>(emstate.samples) * 2, 1000);
    emtest_addsource(emstate.root, values.data());
    std::vector<int16_t> out(values.size() * 2, 0x5555);
    em_audiocallback(nullptr, reinterpret_cast<Uint8*>(out.data()), static_cast<int>(out.size() * 2));
    for (size_t i = 0; i < out.size(); i++)
        ASSERT_EQ(out[i], i < values.size() ? 1000 : 0);
}

TEST_F(Device, MixToParentScalesTruncatesAndWraps)
{
    em_node* mixer = em_createnode(nullptr);
    mixer->mixbuf = static_cast<int32_t*>(emio_calloc(static_cast<uint32_t>(emstate.samples) * 2, 4, 930));
    mixer->process = em_mixtoparent;
    mixer->volume = 100;
    std::vector<int32_t> values(static_cast<size_t>(emstate.samples) * 2, 0);
    values[0] = 1000;       // 1000 * 100 / 256 = 390.6 -> 390
    values[1] = -1000;      // truncates toward zero: -390
    values[2] = 3;          // 300 / 256 -> 1
    values[3] = -3;
    values[4] = 30000000;   // the product wraps in 32 bits: 3000000000 - 2^32
    emtest_addsource(mixer, values.data());
    em_attachnode(mixer, emstate.root);
    em_processnode(emstate.root);
    const int32_t* mix = emstate.root->mixbuf;
    EXPECT_EQ(mix[0], 390);
    EXPECT_EQ(mix[1], -390);
    EXPECT_EQ(mix[2], 1);
    EXPECT_EQ(mix[3], -1);
    EXPECT_EQ(mix[4], static_cast<int32_t>(3000000000LL - 4294967296LL) / 256);
    EXPECT_EQ(mix[5], 0);
}

TEST_F(Device, SecondInitChangesNothing)
{
    em_node* child = em_createnode(emstate.root);
    ASSERT_NE(child, nullptr);
    emio_alloc* table = eminout.allocs;
    const int32_t bytes = emio_getbytes();
    const int32_t maxbytes = emio_getmaxbytes();
    EXPECT_EQ(em_init(), -5);
    EXPECT_EQ(eminout.allocs, table);
    EXPECT_EQ(emio_getbytes(), bytes);
    EXPECT_EQ(emio_getmaxbytes(), maxbytes);
    EXPECT_EQ(em_getchild(em_getroot()), child->handle);
}

TEST(DeviceLife, ClocksAreZeroWhileDownAndDeinitIsQuiet)
{
    EXPECT_EQ(em_getsampleclock(), 0u);
    EXPECT_EQ(em_getmsclock(), 0u);
    emtest_capture cap;
    em_deinit();
    EXPECT_EQ(cap.out() + cap.err(), "");
}

TEST(DeviceLife, ShutdownReportIsCleanAndTheEngineRestarts)
{
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(em_init(), 0);
        EXPECT_EQ(SDL_GetAudioStatus(), SDL_AUDIO_PLAYING);
        em_createnode(emstate.root);
        emtest_capture cap;
        em_deinit();
        const int32_t peak = 512 * static_cast<int32_t>(sizeof(em_sample*)) +
                             512 * static_cast<int32_t>(sizeof(em_node*)) + 2 * static_cast<int32_t>(sizeof(em_node)) +
                             1024 * 2 * 4;
        EXPECT_EQ(cap.out(), "Max bytes allocated during run: " + std::to_string(peak) +
                                 "\nBytes left allocated at io_deinit: 0\n");
        EXPECT_EQ(cap.err(), "");
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        EXPECT_EQ(em_getsampleclock(), 0u);
        EXPECT_EQ(em_getmsclock(), 0u);
    }
}

TEST(DeviceLife, UnusableDriverFailsAndALaterStartSucceeds)
{
    setenv("SDL_AUDIODRIVER", "emtest-nosuchdriver", 1);
    const int result = em_init();
    // SDL 1.2 either refuses the subsystem (-1) or accepts it without a device (-2).
    EXPECT_TRUE(result == -1 || result == -2) << result;
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(em_getroot(), 0);
    EXPECT_EQ(eminout.allocs, nullptr);
    ASSERT_EQ(em_init(), 0);
    emtest_capture quiet;
    em_deinit();
}

// Fails the heap call number emtest_failat (1 = the first after the engine's table).
int emtest_failat;
int emtest_calls;
void* emtest_countingcalloc(size_t count, size_t size)
{
    return ++emtest_calls == emtest_failat ? nullptr : calloc(count, size);
}

TEST(DeviceLife, FailedStartUndoesEverything)
{
    // Heap calls in order: sample table, node table, root node, root mix buffer.
    const int expected[] = {-3, -4, -4, -4};
    for (int failat = 1; failat <= 4; failat++) {
        emtest_failat = failat;
        emtest_calls = 0;
        emio_rawcalloc = emtest_countingcalloc;
        emtest_capture cap;
        EXPECT_EQ(em_init(), expected[failat - 1]) << "failing heap call " << failat;
        emio_rawcalloc = calloc;
        EXPECT_EQ(cap.out() + cap.err(), "");
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        EXPECT_EQ(em_getroot(), 0);
        EXPECT_EQ(emnodes, nullptr);
        EXPECT_EQ(em_samples, nullptr);
        EXPECT_EQ(eminout.allocs, nullptr);
    }
    ASSERT_EQ(em_init(), 0);
    emtest_capture quiet;
    em_deinit();
}

TEST(DeviceLife, AudioLockIsReentrant)
{
    ASSERT_EQ(em_init(), 0);
    auto twice = std::async(std::launch::async, [] {
        SDL_LockAudio();
        SDL_LockAudio();
        SDL_UnlockAudio();
        SDL_UnlockAudio();
        return true;
    });
    ASSERT_EQ(twice.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "audio lock deadlocked";
    EXPECT_TRUE(twice.get());
    emtest_capture quiet;
    em_deinit();
}

TEST(DeviceLife, RealCallbackRunsAndAdvancesTheClock)
{
    ASSERT_EQ(em_init(), 0);
    const auto start = std::chrono::steady_clock::now();
    while (em_load(&emstate.samplepos) < 2048 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        SDL_Delay(5);
    EXPECT_GE(em_load(&emstate.samplepos), 2048u);
    EXPECT_GT(em_getmsclock(), 0u);
    emtest_capture quiet;
    em_deinit();
}

}  // namespace
