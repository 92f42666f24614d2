// test_alloc.cpp -- the log and the accounting allocator: slot order, counters,
// the shutdown report and the refusals
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "io/io.h"

static std::string readlog()
{
    std::ifstream in("log.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(IoAlloc, FullTableRefusesThenReusesLowestFreeSlot)
{
    io_init();
    static void *blocks[IO_MAXALLOCS];
    for (int i = 0; i < IO_MAXALLOCS; i++) {
        blocks[i] = io_calloc(1, 1, 1);
        ASSERT_NE(blocks[i], nullptr) << i;
    }
    EXPECT_EQ(io_calloc(1, 1, 1), nullptr);

    io_free(blocks[1000]);
    io_free(blocks[7]);
    void *again = io_calloc(2, 3, 5);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(inout.allocs[7].ptr, again);
    EXPECT_EQ(inout.allocs[7].size, 6u);
    EXPECT_EQ(inout.allocs[7].tag, 5);
    EXPECT_EQ(inout.allocs[1000].ptr, nullptr);
    EXPECT_EQ(inout.curbytes, IO_MAXALLOCS - 2 + 6);

    for (int i = 0; i < IO_MAXALLOCS; i++)
        if (i != 7 && i != 1000)
            io_free(blocks[i]);
    io_free(again);
    EXPECT_EQ(inout.curbytes, 0);
    io_deinit();

    const std::string log = readlog();
    EXPECT_EQ(log, "ERROR: io_calloc - couldn't allocate\n"
                   "Max bytes allocated during run: " + std::to_string(IO_MAXALLOCS + 4) + "\n"
                   "Bytes left allocated at io_deinit: 0\n");
}

TEST(IoAlloc, ReportShowsPeakHeldBytesAndOneLineAndBlankPerLeak)
{
    io_init();
    void *big = io_calloc(10, 10, 11);
    ASSERT_NE(big, nullptr);
    const unsigned char *bytes = static_cast<const unsigned char *>(big);
    for (int i = 0; i < 100; i++)
        ASSERT_EQ(bytes[i], 0) << "block must be zero-filled";
    io_free(big);
    EXPECT_EQ(io_calloc(50, 1, 77) != nullptr, true);
    EXPECT_EQ(io_calloc(3, 4, 203) != nullptr, true);
    EXPECT_EQ(inout.maxbytes, 100);
    io_deinit();

    EXPECT_EQ(inout.allocs, nullptr);
    EXPECT_EQ(inout.logfile, nullptr);
    EXPECT_EQ(inout.curbytes, 0) << "leftovers are released by the report";
    EXPECT_EQ(readlog(), "Max bytes allocated during run: 100\n"
                         "Bytes left allocated at io_deinit: 62\n"
                         "ERROR: name 77: 50 bytes\n\n"
                         "ERROR: name 203: 12 bytes\n\n");
}

TEST(IoAlloc, RefusalsAndUnknownBlocks)
{
    io_init();
    // The heap refusing a block is silent and leaves the slot free.
    EXPECT_EQ(io_calloc(0xffffffffu, 0xffffffffu, 3), nullptr);
    EXPECT_EQ(inout.allocs[0].ptr, nullptr);
    EXPECT_EQ(inout.curbytes, 0);

    io_free(nullptr);

    void *foreign = malloc(32);
    void *mine = io_calloc(4, 4, 9);
    io_free(foreign);  // released anyway, counters untouched
    EXPECT_EQ(inout.curbytes, 16);
    io_free(mine);
    io_free(mine);     // a second free must not reach the heap again
    EXPECT_EQ(inout.curbytes, 0);
    io_deinit();

    EXPECT_EQ(readlog(), "ERROR: io_free - tried to free NULL pointer\n"
                         "ERROR: io_free - couldn't find inout.allocs entry, free anyway\n"
                         "ERROR: io_free - couldn't find inout.allocs entry, free anyway\n"
                         "Max bytes allocated during run: 16\n"
                         "Bytes left allocated at io_deinit: 0\n");
}

TEST(IoAlloc, ClosedServiceRefusesAndErrorTextsAreBounded)
{
    // Closed table with a log to read the refusals from.
    ASSERT_EQ(inout.allocs, nullptr);
    inout.logfile = fopen("log.txt", "w");
    ASSERT_NE(inout.logfile, nullptr);
    EXPECT_EQ(io_calloc(1, 1, 1), nullptr);
    int local = 0;
    io_free(&local);  // refused: not released, so a stack address is harmless

    io_error("%s", std::string(300, 'x').c_str());
    io_error("ends in a line end\n");
    fclose(inout.logfile);
    inout.logfile = nullptr;
    io_log("nothing is written while no log is open\n");
    io_error("nor this");

    EXPECT_EQ(readlog(), "ERROR: io_calloc - no inout.allocs\n"
                         "ERROR: io_free - no inout.allocs\n"
                         "ERROR: " + std::string(IO_ERRORLEN - 1, 'x') + "\n"
                         "ERROR: ends in a line end\n\n");
}
