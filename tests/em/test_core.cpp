// test_core.cpp -- the accounting allocator, engine start and stop, the limiter and the node tree
#include "tests/kit/kit_em.h"

namespace {

TEST(Emio, ReusesTheLowestFreeEntryAndReportsLeftovers)
{
    emio_init();
    void* a = emio_calloc(10, 10, 950);
    void* b = emio_calloc(50, 1, 951);
    emio_free(a);
    void* c = emio_calloc(3, 10, 952);
    EXPECT_EQ(eminout.allocs[0].ptr, c);
    EXPECT_EQ(eminout.allocs[1].ptr, b);
    EXPECT_EQ(emio_getbytes(), 80);
    EXPECT_EQ(emio_getmaxbytes(), 150);
    kit_capture cap;
    emio_deinit();
    EXPECT_EQ(cap.out(), "Max bytes allocated during run: 150\nBytes left allocated at io_deinit: 80\n");
    EXPECT_EQ(cap.err(), "ERROR: name 952: 30 bytes\n\nERROR: name 951: 50 bytes\n\n");
    EXPECT_EQ(eminout.allocs, nullptr);
}

// A, freed, then B (perhaps where A was), freed: a second free of either never reaches the heap, while a
// block the table never held is released once and guarded from then on.
TEST(Emio, SecondFreesAreKeptBackAndForeignBlocksReleasedOnce)
{
    emio_init();
    kit_capture cap;
    void* a = emio_calloc(1, 24, 901);
    emio_free(a);
    void* b = emio_calloc(1, 24, 902);
    emio_free(b), emio_free(a), emio_free(b);
    void* foreign = malloc(4000); // another size: not where a or b lay
    emio_free(foreign), emio_free(foreign);
    emio_free(emio_calloc(1, 24, 903));
    EXPECT_EQ(emio_getbytes(), 0);
    emio_deinit();
    EXPECT_EQ(cap.err(), "ERROR: emio_free - couldn't find eminout.allocs entry, already freed\n"
                         "ERROR: emio_free - couldn't find eminout.allocs entry, already freed\n"
                         "ERROR: emio_free - couldn't find eminout.allocs entry, free anyway\n"
                         "ERROR: emio_free - couldn't find eminout.allocs entry, already freed\n");
}

// With a hook every printed line reaches it whole, without its newline, with its level (the blank line that
// ends some errors is not a line); null gives the printing back, byte for byte as before.
TEST(LogHook, TakesEveryLineWithItsLevelAndNullRestoresThePrinting)
{
    auto session = [] {
        EXPECT_EQ(em_initoffline(), 0);
        EXPECT_EQ(em_createsequencer(em_getroot(), 9, 4), 0);
        EXPECT_EQ(em_triggersample(em_createsampler(em_getroot(), -1), 0), 0);
        EXPECT_EQ(em_playoggmusic(em_createoggmusic(em_getroot()), "missing.ogg"), -1);
        em_deinit();
    };
    kit_loglines hook;
    kit_capture hooked;
    session();
    EXPECT_EQ(hooked.out() + hooked.err(), "");
    const std::vector<std::pair<int, std::string>> expected = {
        {EM_LOGERROR, "ERROR: em_initsequencer: 9 channels (0 to 8)"},
        {EM_LOGWARNING, "warning: em_playsampler tried to play sample zero"},
        {EM_LOGINFO, "emio_open - file missing.ogg not found"},
        {EM_LOGERROR, "ERROR: em_openoggmusic: can't find missing.ogg"},
        {EM_LOGERROR, "ERROR: em_startoggmusic: couldn't open missing.ogg"},
        {EM_LOGINFO, "Max bytes allocated during run: " + std::to_string(emio_getmaxbytes())},
        {EM_LOGINFO, "Bytes left allocated at io_deinit: 0"}};
    EXPECT_EQ(hook.lines, expected);
    em_setlogfunc(nullptr, nullptr);
    kit_capture plain;
    session();
    EXPECT_EQ(plain.err(), "ERROR: em_initsequencer: 9 channels (0 to 8)\nERROR: em_openoggmusic: can't find missing.ogg\n"
                           "ERROR: em_startoggmusic: couldn't open missing.ogg\n\n");
    EXPECT_EQ(plain.out(), "warning: em_playsampler tried to play sample zero\nemio_open - file missing.ogg not found\n"
                           "Max bytes allocated during run: " +
                               std::to_string(emio_getmaxbytes()) + "\nBytes left allocated at io_deinit: 0\n");
    EXPECT_EQ(hook.lines.size(), expected.size());
}

using Device = kit_engine;

TEST_F(Device, CallbackShapesTheRootMixThroughTheLimiter)
{
    // Pairs of a mix value and its output: unchanged to the knee at 16384, then pressed ever closer to full scale.
    const int32_t limits[] = {0,        0,      1,          1,      -1,         -1,     16384,     16384,  16385,   16385,
                              20000,    19347,  32767,      24576,  32768,      24576,  65536,     28672,  131072,  30720,
                              1048576,  32512,  268435456,  32767,  268435457,  32767,  INT32_MAX, 32767,  -16384,  -16384,
                              -16385,   -16385, -20000,     -19347, -32768,     -24576, -65536,    -28672, -131072, -30720,
                              -1048576, -32512, -268435456, -32767, -268435457, -32767, INT32_MIN, -32767};
    const size_t count = std::size(limits) / 2;
    std::vector<int32_t> values(static_cast<size_t>(emstate.samples) * 2, 0);
    for (size_t i = 0; i < values.size(); i++)
        values[i] = limits[2 * (i % count)];
    ASSERT_NE(kit_addsource(emstate.root, values.data()), nullptr);
    const uint32_t before = emstate.samplepos;
    const std::vector<int16_t> out = kit_render();
    for (size_t i = 0; i < out.size(); i++)
        ASSERT_EQ(out[i], limits[2 * (i % count) + 1]) << "mix value " << values[i];
    EXPECT_EQ(emstate.samplepos, before + 1024);
}

// em_render is refused while the device runs and mixes once it is paused.
TEST(DeviceLife, SecondInitAndRenderWhileRunningAreRefusedAndTheShutdownLeavesNothing)
{
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(em_init(), 0);
        const int child = em_createnode(emstate.root)->handle;
        emio_alloc* table = eminout.allocs;
        EXPECT_EQ(em_init(), -5);
        EXPECT_EQ(eminout.allocs, table);
        EXPECT_EQ(em_getchild(em_getroot()), child);
        std::vector<int16_t> out(200);
        EXPECT_EQ(em_render(out.data(), 100), -1);
        SDL_PauseAudio(1);
        EXPECT_EQ(em_render(out.data(), 100), 100);
        kit_capture cap;
        em_deinit();
        EXPECT_NE(cap.out().find("\nBytes left allocated at io_deinit: 0\n"), std::string::npos) << cap.out();
        EXPECT_EQ(cap.err(), "");
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        EXPECT_EQ(em_getroot(), 0);
    }
}

int emtest_failat, emtest_calls;

TEST(DeviceLife, FailedStartsGiveTheirCodesAndUndoEverything)
{
    setenv("SDL_AUDIODRIVER", "emtest-nosuchdriver", 1);
    const int result = em_init();
    EXPECT_TRUE(result == -1 || result == -2) << result; // SDL refuses the subsystem or the device
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    // heap calls in order: sample table, node table, root node, root mix buffer
    const int expected[] = {-3, -4, -4, -4};
    emio_rawcalloc = [](size_t count, size_t size) { return ++emtest_calls == emtest_failat ? nullptr : calloc(count, size); };
    for (emtest_failat = 1; emtest_failat <= 4; emtest_failat++) {
        emtest_calls = 0;
        kit_capture cap;
        EXPECT_EQ(em_init(), expected[emtest_failat - 1]) << "failing heap call " << emtest_failat;
        EXPECT_EQ(cap.out() + cap.err(), "");
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        EXPECT_TRUE(emnodes == nullptr && eminout.allocs == nullptr);
    }
    emio_rawcalloc = calloc;
    ASSERT_EQ(em_init(), 0);
    kit_stopengine();
}

// A looping voice below unit pitch and a 3-D voice to the right, rendered through the callback and em_render.
void emtest_scene()
{
    const int sampler = em_createsampler(em_getroot(), -1);
    em_setparam(sampler, EMP_DEFPITCH, 0xC000);
    em_setparam(sampler, EMP_LOOP, 1);
    ASSERT_NE(em_triggersample(sampler, kit_makesample(kit_values(3001))), 0);
    const int listener = em_createsampler3d(em_getroot(), -1);
    em_setparam3f(listener, EMP_POSITION3DB, 5, 0, -5);
    ASSERT_NE(em_triggersample3d(listener, kit_makesample(kit_values(9000))), 0);
}

TEST(Render, OfflineFramesEqualTheCallbacksInAnySlicing)
{
    EXPECT_EQ(em_render(nullptr, 0), -1) << "before the start";
    ASSERT_EQ(kit_startpaused(), 0);
    emtest_scene();
    const std::vector<int16_t> expected = kit_render(5);
    kit_stopengine();
    ASSERT_EQ(em_initoffline(), 0);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "no device, no audio subsystem";
    EXPECT_EQ(em_initoffline(), -5);
    EXPECT_EQ(em_init(), -5);
    emtest_scene();
    std::vector<int16_t> got(expected.size(), 0x5555);
    int32_t done = 0;
    for (const int32_t slice : {1, 100, 923, 0, 1024, 2047, 1025}) {
        ASSERT_EQ(em_render(got.data() + 2 * done, slice), slice);
        done += slice;
    }
    ASSERT_EQ(done, 5 * 1024);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(em_getsampleclock(), 5u * 1024);
    EXPECT_EQ(em_getmsclock(), 116u) << "the clock of rendered sound";
    EXPECT_EQ(em_render(got.data(), -1), -1);
    EXPECT_EQ(em_render(nullptr, 10), -1);
    kit_stopengine();
    EXPECT_EQ(em_render(got.data(), 10), -1) << "after the end";
}

// A device asking for no bytes still moves the voices a buffer on.
TEST_F(Device, CallbackOfNoBytesProcessesTheTree)
{
    const int sampler = em_createsampler(em_getroot(), -1);
    em_setparam(sampler, EMP_LOOP, 1);
    const int voice = em_triggersample(sampler, kit_makesample(kit_values(3000)));
    const uint32_t before = emstate.samplepos;
    int16_t untouched = 0x5555;
    em_audiocallback(nullptr, reinterpret_cast<Uint8*>(&untouched), 0);
    EXPECT_EQ(em_getparam(voice, EMP_POSITION), 1024);
    EXPECT_EQ(emstate.samplepos, before);
    EXPECT_EQ(untouched, 0x5555);
}

using Nodes = kit_engine;

TEST_F(Nodes, TreeLinksCyclesAndLowestHandleReuse)
{
    em_node* a = em_createnode(emstate.root);
    em_node* b = em_createnode(emstate.root);
    em_node* c = em_createnode(a);
    ASSERT_EQ(a->handle, 2);
    EXPECT_EQ(em_getchild(1), b->handle); // new children go to the front
    EXPECT_EQ(em_getnext(b->handle), a->handle);
    EXPECT_EQ(em_getprev(a->handle), b->handle);
    EXPECT_EQ(em_attachnode(a, c), -1);
    EXPECT_EQ(em_getparent(c->handle), a->handle);
    em_destroynode(b);
    EXPECT_EQ(em_isnode(3), 0);
    EXPECT_EQ(em_getchild(1), a->handle);
    EXPECT_EQ(em_createnode(nullptr)->handle, 3);
    EXPECT_EQ(em_createnode(nullptr)->handle, 5);
}

// em_freenode: bad handles and the root are refused; a sampler goes with its voices, a voice alone.
TEST_F(Nodes, FreeingNodesByHandle)
{
    for (const int bad : {0, -3, static_cast<int>(EM_MAXHANDLES), 77, em_getroot()}) // 77: a free handle; the root stays
        EXPECT_EQ(em_freenode(bad), -1) << bad;
    const int32_t before = emio_getbytes();
    const int sampler = em_createsampler(em_getroot(), -1);
    em_setparam(sampler, EMP_LOOP, 1);
    const int sample = kit_makesample(kit_values(500));
    const int first = em_triggersample(sampler, sample), second = em_triggersample(sampler, sample);
    EXPECT_EQ(em_freenode(first), 0);
    EXPECT_EQ(em_isnode(first), 0);
    EXPECT_EQ(em_getchild(sampler), second);
    kit_render();
    EXPECT_EQ(em_freenode(sampler), 0);
    EXPECT_EQ(em_isnode(second), 0) << "the voices go with their sampler";
    EXPECT_EQ(em_freenode(sampler), -1) << "freed already";
    em_freesample(sample);
    EXPECT_EQ(emio_getbytes(), before);
}

TEST(NodesLife, FreeingCallsBeforeTheStartAndWhileTheDeviceMixes)
{
    EXPECT_EQ(em_freenode(1), -1) << "before the start";
    ASSERT_EQ(em_init(), 0); // the callback runs on SDL's audio thread
    const int sample = kit_makesample(kit_values(300));
    for (int round = 0; round < 200; round++) {
        const int sampler = em_createsampler(em_getroot(), -1);
        for (int v = 0; v < 10; v++)
            em_triggersample(sampler, sample);
        if (round % 3 == 0)
            em_freenode(em_getchild(sampler));
        SDL_Delay(round % 10 == 0 ? 1 : 0);
        EXPECT_EQ(em_freenode(sampler), 0);
    }
    kit_stopengine();
    EXPECT_EQ(em_freenode(1), -1) << "after the end";
    EXPECT_EQ(em_locknests, 0);
}

TEST_F(Nodes, ChildDestroyingItselfDoesNotBreakTheWalk)
{
    std::vector<int32_t> ones(static_cast<size_t>(emstate.samples) * 2, 1), tens(ones.size(), 10);
    kit_addsource(emstate.root, ones.data());
    em_node* self = em_createnode(emstate.root);
    self->process = [](em_node* node) { // adds 100 and destroys itself
        for (int32_t i = 0; i < emstate.samples * 2; i++)
            node->parent->mixbuf[i] += 100;
        em_destroynode(node);
    };
    kit_addsource(emstate.root, tens.data());
    const int selfhandle = self->handle;
    const std::vector<int16_t> first = kit_render();
    EXPECT_EQ(first[0], 111);
    EXPECT_EQ(first.back(), 111);
    EXPECT_EQ(em_isnode(selfhandle), 0);
    EXPECT_EQ(kit_render()[5], 11);
}

} // namespace
