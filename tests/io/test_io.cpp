// test_io.cpp -- the accounting allocator and its report, and the line readers on tricky inputs
#include <gtest/gtest.h>

#include "io/io.h"
#include "io/io_blockset.h"
#include "tests/kit/kit.h"

// Closes the io service and returns everything its log holds.
static std::string closelog()
{
    io_deinit();
    return kit_readfile("log.txt");
}

TEST(IoAlloc, FullTableRefusesThenReusesLowestFreeSlot)
{
    io_init();
    static void* blocks[IO_MAXALLOCS];
    for (int i = 0; i < IO_MAXALLOCS; i++)
        ASSERT_NE(blocks[i] = io_calloc(1, 1, 1), nullptr) << i;
    EXPECT_EQ(io_calloc(1, 1, 1), nullptr);
    io_free(blocks[1000]), io_free(blocks[7]);
    blocks[7] = io_calloc(2, 3, 5);
    const io_allocentry& entry = inout.allocs[7];
    EXPECT_TRUE(entry.ptr == blocks[7] && entry.size == 6u && entry.tag == 5 && !inout.allocs[1000].ptr);
    for (int i = 0; i < IO_MAXALLOCS; i++)
        if (i != 1000)
            io_free(blocks[i]);
    EXPECT_EQ(closelog(), "ERROR: io_calloc - couldn't allocate\nMax bytes allocated during run: " + // the peak: after the reuse
                              std::to_string(IO_MAXALLOCS + 4) + "\nBytes left allocated at io_deinit: 0\n");
}

TEST(IoAlloc, BadFreesAreReportedAndLeaksListedWithABlankLine)
{
    io_init();
    io_free(io_calloc(10, 10, 11)), io_free(nullptr);
    EXPECT_TRUE(io_calloc(50, 1, 77) && io_calloc(3, 4, 203));
    const std::string log = closelog();
    EXPECT_EQ(inout.curbytes, 0) << "leftovers are released by the report";
    EXPECT_EQ(log, "ERROR: io_free - tried to free NULL pointer\n"
                   "Max bytes allocated during run: 100\n"
                   "Bytes left allocated at io_deinit: 62\n"
                   "ERROR: name 77: 50 bytes\n\n"
                   "ERROR: name 203: 12 bytes\n\n");
}

// A, free A, B (perhaps where A was), free B: a second free of either never reaches the heap; a foreign block goes once.
TEST(IoAlloc, SecondFreesAreKeptBackAndForeignBlocksReleasedOnce)
{
    io_init();
    void* a = io_calloc(1, 24, 1);
    io_free(a);
    void* b = io_calloc(1, 24, 2);
    io_free(b), io_free(a), io_free(b);
    void* foreign = malloc(4000); // another size: not where a or b lay
    io_free(foreign), io_free(foreign);
    io_free(io_calloc(1, 24, 3)); // may reuse any of them: its free is a real one
    EXPECT_EQ(inout.curbytes, 0);
    EXPECT_EQ(closelog(), "ERROR: io_free - couldn't find inout.allocs entry, already freed\n"
                          "ERROR: io_free - couldn't find inout.allocs entry, already freed\n"
                          "ERROR: io_free - couldn't find inout.allocs entry, free anyway\n"
                          "ERROR: io_free - couldn't find inout.allocs entry, already freed\n"
                          "Max bytes allocated during run: 24\n"
                          "Bytes left allocated at io_deinit: 0\n");
}

// The guard remembers exactly the latest IO_BLOCKSETRECENT releases in a room taken once: older ones are forgotten
// oldest first, an address handed out and released again counts from its new release, and nothing is reallocated.
TEST(IoBlockset, RemembersTheLatestReleasesInAFixedRoom)
{
    io_blockset set = {};
    ASSERT_TRUE(io_blocksetinit(&set));
    const io_blockentry* table = set.table;
    auto address = [](uint32_t i) { return reinterpret_cast<void*>(static_cast<uintptr_t>(0x10000 + 16 * i)); };
    const uint32_t total = 3 * IO_BLOCKSETRECENT + 5;
    io_blocksetadd(&set, address(7)); // released, handed out again, released again later
    EXPECT_TRUE(io_blocksetremove(&set, address(7)));
    EXPECT_FALSE(io_blocksetremove(&set, address(7)));
    for (uint32_t i = 1; i <= total; i++)
        io_blocksetadd(&set, address(i == total - 3 ? 7 : i + 100));
    EXPECT_EQ(set.table, table);
    uint32_t held = 0;
    for (uint32_t i = 1; i <= total; i++)
        held += io_blocksethas(&set, address(i + 100)) ? 1 : 0;
    EXPECT_EQ(held, IO_BLOCKSETRECENT - 1u) << "the latest releases, the one of address 7 among them";
    EXPECT_TRUE(io_blocksethas(&set, address(7)));
    EXPECT_TRUE(io_blocksethas(&set, address(total + 100)));
    EXPECT_TRUE(io_blocksethas(&set, address(total - IO_BLOCKSETRECENT + 101)));
    EXPECT_FALSE(io_blocksethas(&set, address(total - IO_BLOCKSETRECENT + 100)));
    // Removals in the middle of probe paths keep every other address reachable.
    for (uint32_t i = total - IO_BLOCKSETRECENT + 101; i <= total + 100; i += 2)
        EXPECT_EQ(io_blocksetremove(&set, address(i)), i != total + 97);
    for (uint32_t i = total - IO_BLOCKSETRECENT + 102; i <= total + 100; i += 2)
        ASSERT_EQ(io_blocksethas(&set, address(i)), i != total + 97) << i;
    io_blocksetclear(&set);
    EXPECT_FALSE(io_blocksethas(&set, address(7)));
}

static FILE* opentext(const std::string& text)
{
    kit_writefile("data.txt", text);
    return io_fopen("data.txt", "rb");
}

TEST(IoFiles, ReadlineOnTrickyInputs)
{
    const struct {
        const char* text;
        uint32_t size;
        std::vector<std::string> lines; // every result until the end; only the last returns 1
    } cases[] = {
        {"last line without end", 256, {"last line without end"}},
        {"one\r\ntwo\r\n", 256, {"one", "two", ""}}, // CR ends the line, the LF is skipped
        {"key\tvalue\n", 256, {"key", "value", ""}}, // a tab ends a line
        {"   \n \r\n\n  ", 256, {""}},
        {"  \x01 lead and  trail  \n\xE9t\xE9\n", 256, {"lead and  trail  ", "\xE9t\xE9", ""}},
        {"abcdefghij\nxyz\n0123456789", 5, {"abcd", "xyz", "0123"}}, // cut, resumed on the next line
    };
    for (const auto& c : cases) {
        FILE* file = opentext(c.text);
        ASSERT_NE(file, nullptr);
        std::vector<std::string> got;
        std::vector<char> text(c.size + 1, '#');
        for (int result = 0; result == 0 && got.size() < 20;) {
            result = io_readline(file, text.data(), c.size);
            EXPECT_EQ(text[c.size], '#') << "wrote past the buffer: " << c.text;
            got.emplace_back(text.data());
        }
        EXPECT_EQ(got, c.lines) << c.text;
        EXPECT_TRUE(feof(file)) << c.text;
        io_fclose(file);
    }
}

TEST(IoFiles, KeyValueAndCaseSensitiveKeyword)
{
    FILE* file = opentext("  MASK   file.png  \nLONGKEYWORD a long value here\nFLAG");
    ASSERT_NE(file, nullptr);
    char key[5], value[7];
    const char* const want[3][2] = {{"MASK", "file.p"}, {"LONG", "a long"}, {"FLAG", ""}}; // cut to the buffers
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(io_readkeyvalue(file, key, sizeof(key), value, sizeof(value)), i == 2 ? 1 : 0);
        EXPECT_EQ(std::string(key) + "|" + value, std::string(want[i][0]) + "|" + want[i][1]);
    }
    io_fclose(file);

    static const char* const words[3] = {"FLAG", "MASK", "FRAME"};
    file = opentext("FRAME 1\nframe 1\nMASK a\nFLAGS x\n\nFRAMEWORK 2\nFRAME");
    ASSERT_NE(file, nullptr);
    char word[6], rest[32];
    for (int32_t index : {2, -1, 1, -1, -1, 2})
        EXPECT_EQ(io_readkeyword(file, word, sizeof(word), rest, sizeof(rest), words, 3), index) << word;
    EXPECT_TRUE(feof(file));
    io_fclose(file);
}
