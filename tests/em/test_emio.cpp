// test_emio.cpp -- the audio engine's accounting allocator, its report and printers
#include <thread>

#include "em_harness.h"

namespace {

// Starts a fresh table for each test and drops it afterwards.
class Emio : public ::testing::Test {
protected:
    void SetUp() override { emio_init(); }
    void TearDown() override
    {
        emio_rawcalloc = calloc;
        emio_drop();
    }
};

void* emtest_failingcalloc(size_t, size_t) { return nullptr; }

TEST_F(Emio, CountsPeakAndReusesTheLowestFreeEntry)
{
    void* a = emio_calloc(10, 10, 950);
    void* b = emio_calloc(50, 1, 951);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(eminout.allocs[0].ptr, a);
    EXPECT_EQ(eminout.allocs[1].ptr, b);
    emio_free(a);
    void* c = emio_calloc(3, 10, 952);
    EXPECT_EQ(eminout.allocs[0].ptr, c);
    EXPECT_EQ(eminout.allocs[0].size, 30);
    EXPECT_EQ(eminout.allocs[0].name, 952);
    EXPECT_EQ(emio_getbytes(), 80);
    EXPECT_EQ(emio_getmaxbytes(), 150);
    const unsigned char* bytes = static_cast<const unsigned char*>(c);
    for (int i = 0; i < 30; i++)
        EXPECT_EQ(bytes[i], 0);
    emio_free(b);
    emio_free(c);
    EXPECT_EQ(emio_getbytes(), 0);
}

TEST_F(Emio, FullTableRefusesUntilAnEntryIsFreed)
{
    std::vector<void*> blocks;
    for (int i = 0; i < EMIO_MAXALLOCS; i++)
        blocks.push_back(emio_calloc(1, 1, 900));
    for (void* block : blocks)
        ASSERT_NE(block, nullptr);
    {
        emtest_capture cap;
        EXPECT_EQ(emio_calloc(1, 1, 900), nullptr);
        EXPECT_EQ(cap.err(), "ERROR: emio_calloc - couldn't allocate\n");
        EXPECT_EQ(cap.out(), "");
    }
    emio_free(blocks[77]);
    void* again = emio_calloc(1, 1, 900);
    EXPECT_EQ(eminout.allocs[77].ptr, again);
    blocks[77] = again;
    for (void* block : blocks)
        emio_free(block);
    EXPECT_EQ(emio_getbytes(), 0);
}

TEST_F(Emio, RefusedHeapCallIsSilentAndCountsNothing)
{
    void* kept = emio_calloc(4, 4, 900);
    emio_rawcalloc = emtest_failingcalloc;
    emtest_capture cap;
    EXPECT_EQ(emio_calloc(8, 8, 901), nullptr);
    cap.stop();
    EXPECT_EQ(cap.out() + cap.err(), "");
    EXPECT_EQ(eminout.allocs[1].ptr, nullptr);
    EXPECT_EQ(emio_getbytes(), 16);
    EXPECT_EQ(emio_getmaxbytes(), 16);
    emio_rawcalloc = calloc;
    emio_free(kept);
}

TEST_F(Emio, OversizedBlockIsRefusedBeforeTheHeap)
{
    EXPECT_EQ(emio_calloc(0x10000, 0x10000, 900), nullptr);
    EXPECT_EQ(emio_getbytes(), 0);
}

TEST_F(Emio, UnknownAndRepeatedFreesAreReportedAndNeverReachTheHeap)
{
    void* block = emio_calloc(100, 1, 900);
    emio_free(block);
    emtest_capture cap;
    emio_free(block);   // a second free of the same block
    int local = 0;
    emio_free(&local);  // something the heap never handed out
    emio_free(nullptr);
    EXPECT_EQ(cap.err(),
              "ERROR: emio_free - couldn't find eminout.allocs entry, free anyway\n"
              "ERROR: emio_free - couldn't find eminout.allocs entry, free anyway\n"
              "ERROR: emio_free - tried to free NULL pointer\n");
    EXPECT_EQ(emio_getbytes(), 0);
}

TEST_F(Emio, CallsWhileDownOnlyReport)
{
    emio_drop();
    int local = 0;
    emtest_capture cap;
    EXPECT_EQ(emio_calloc(1, 1, 900), nullptr);
    emio_free(&local);
    emio_deinit();
    EXPECT_EQ(cap.err(), "ERROR: emio_calloc - no eminout.allocs\nERROR: emio_free - no eminout.allocs\n");
    EXPECT_EQ(cap.out(), "");
}

TEST_F(Emio, ReportListsLeftoversInTableOrderOnBothStreams)
{
    void* gone = emio_calloc(1000, 1, 900);
    emio_free(gone);
    ASSERT_NE(emio_calloc(24, 1, 950), nullptr);
    ASSERT_NE(emio_calloc(2048, 2, 951), nullptr);
    emtest_capture cap;
    emio_deinit();
    EXPECT_EQ(cap.out(), "Max bytes allocated during run: 4120\nBytes left allocated at io_deinit: 4120\n");
    EXPECT_EQ(cap.err(), "ERROR: name 950: 24 bytes\n\nERROR: name 951: 4096 bytes\n\n");
    EXPECT_EQ(eminout.bytes, 0);
    EXPECT_EQ(eminout.allocs, nullptr);
}

TEST_F(Emio, OpenReportsAMissingFileOnStandardOutput)
{
    emtest_capture cap;
    EXPECT_EQ(emio_open("/nonexistent/emtest.ogg", "rb"), nullptr);
    EXPECT_EQ(cap.out(), "emio_open - file /nonexistent/emtest.ogg not found\n");
    EXPECT_EQ(cap.err(), "");
}

TEST_F(Emio, ErrorTextIsCutAt255Characters)
{
    const std::string longtext(400, 'x');
    emtest_capture cap;
    emio_error("%s", longtext.c_str());
    EXPECT_EQ(cap.err(), "ERROR: " + std::string(255, 'x') + "\n");
}

TEST_F(Emio, TwoThreadsKeepTheCountersExact)
{
    const auto churn = [] {
        for (int i = 0; i < 20000; i++) {
            void* block = emio_calloc(1, 16, 900);
            if (block)
                emio_free(block);
        }
    };
    void* kept = emio_calloc(1, 8, 900);
    std::thread other(churn);
    churn();
    other.join();
    EXPECT_EQ(emio_getbytes(), 8);
    EXPECT_GE(emio_getmaxbytes(), 24);
    EXPECT_LE(emio_getmaxbytes(), 40);
    emio_free(kept);
}

}  // namespace
