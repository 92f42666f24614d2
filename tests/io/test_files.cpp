// test_files.cpp -- data file opening and the line readers on tricky inputs
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "io/io.h"

namespace {

// Runs each test in a fresh temporary directory, the data directory of io_fopen.
class io_files : public ::testing::Test {
protected:
    void SetUp() override
    {
        char *old = getcwd(nullptr, 0);
        ASSERT_NE(old, nullptr);
        oldcwd = old;
        free(old);
        char pattern[] = "/tmp/quorrel-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_EQ(chdir(pattern), 0);
    }
    void TearDown() override
    {
        if (file)
            fclose(file);
        ASSERT_EQ(chdir(oldcwd.c_str()), 0);
        const std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    // Writes the text as "data.txt" and opens it for the readers.
    void open(const std::string &text)
    {
        FILE *out = fopen("data.txt", "wb");
        ASSERT_NE(out, nullptr);
        fwrite(text.data(), 1, text.size(), out);
        fclose(out);
        file = io_fopen("data.txt", "rb");
        ASSERT_NE(file, nullptr);
    }
    // Every io_readline result until the stream reports its end, as (text, result).
    std::vector<std::pair<std::string, int>> lines(uint32_t size = 256)
    {
        std::vector<std::pair<std::string, int>> got;
        std::vector<char> text(size + 1, '#');
        while (!feof(file) && !ferror(file) && got.size() < 100) {
            const int result = io_readline(file, text.data(), size);
            EXPECT_EQ(text[size], '#') << "wrote past the buffer";
            got.emplace_back(text.data(), result);
        }
        return got;
    }
    std::string oldcwd, dir;
    FILE *file = nullptr;
};

using linelist = std::vector<std::pair<std::string, int>>;

TEST_F(io_files, FopenFindsNamesInTheWorkingDirectoryOnly)
{
    EXPECT_EQ(io_fopen("missing.txt", "rb"), nullptr);
    open("x");
    EXPECT_EQ(io_fclose(file), 0);
    file = nullptr;

    // "./" and the name must fit 255 characters: 253 does, 254 does not.
    const std::string fits(253, 'f'), toolong(254, 'g');
    for (const std::string &name : {fits, toolong}) {
        FILE *out = fopen(name.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        fclose(out);
    }
    FILE *found = io_fopen(fits.c_str(), "rb");
    EXPECT_NE(found, nullptr);
    io_fclose(found);
    EXPECT_EQ(io_fopen(toolong.c_str(), "rb"), nullptr);
}

TEST_F(io_files, ReadlineLineEnds)
{
    open("last line without end");
    EXPECT_EQ(lines(), (linelist{{"last line without end", 1}}));
    fclose(file);

    open("one\r\ntwo\r\n");  // CR ends the line, LF is skipped by the next read
    EXPECT_EQ(lines(), (linelist{{"one", 0}, {"two", 0}, {"", 1}}));
    fclose(file);

    open("key\tvalue\n");  // a tab ends a line
    EXPECT_EQ(lines(), (linelist{{"key", 0}, {"value", 0}, {"", 1}}));
    fclose(file);
    file = nullptr;
}

TEST_F(io_files, ReadlineEmptyAndBlankFiles)
{
    open("");
    EXPECT_EQ(lines(), (linelist{{"", 1}}));
    fclose(file);

    open("   \n \r\n\n  ");
    EXPECT_EQ(lines(), (linelist{{"", 1}}));
    fclose(file);
    file = nullptr;
}

TEST_F(io_files, ReadlineKeepsInnerAndTrailingBlanksAndHighCharacters)
{
    open("  \x01 lead and  trail  \n\xE9t\xE9\xFF\n");
    EXPECT_EQ(lines(), (linelist{{"lead and  trail  ", 0}, {"\xE9t\xE9\xFF", 0}, {"", 1}}));
}

TEST_F(io_files, ReadlineCutsOverlongLinesAndResumesOnTheNextLine)
{
    open("abcdefghij\nxyz\nabcd\n0123456789");
    EXPECT_EQ(lines(5), (linelist{{"abcd", 0}, {"xyz", 0}, {"abcd", 0}, {"0123", 1}}));
    fclose(file);

    open("abc\ndef");
    EXPECT_EQ(lines(1), (linelist{{"", 0}, {"", 1}}));
    fclose(file);

    // Size 0: nothing at all may be written, the lines are still consumed.
    open("abc\ndef\n");
    char byte = '#';
    EXPECT_EQ(io_readline(file, &byte, 0), 0);
    EXPECT_EQ(io_readline(file, &byte, 0), 0);
    EXPECT_EQ(byte, '#');
    char text[8];
    EXPECT_EQ(io_readline(file, text, sizeof(text)), 1);
    EXPECT_STREQ(text, "");
}

TEST_F(io_files, ReadErrorEndsTheLineLikeTheEndOfTheFile)
{
    // Reading a directory stream fails without setting the end-of-file indicator.
    ASSERT_EQ(mkdir("sub", 0700), 0);
    file = fopen("sub", "rb");
    if (!file)
        GTEST_SKIP() << "directories cannot be opened as streams here";
    char text[16], value[16];
    EXPECT_EQ(io_readline(file, text, sizeof(text)), 1);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(io_readkeyvalue(file, text, sizeof(text), value, sizeof(value)), 1);
    EXPECT_TRUE(ferror(file));
}

// Reads one key/value pair with the given buffer sizes.
struct kvread {
    std::string key, value;
    int result;
};
static kvread io_readpairof(FILE *file, uint32_t keysize = 72, uint32_t valuesize = 1024)
{
    std::vector<char> key(keysize + 1, '#'), value(valuesize + 1, '#');
    kvread got;
    got.result = io_readkeyvalue(file, key.data(), keysize, value.data(), valuesize);
    EXPECT_EQ(key[keysize], '#');
    EXPECT_EQ(value[valuesize], '#');
    got.key = key.data();
    got.value = value.data();
    return got;
}

TEST_F(io_files, KeyValueSplitsAtTheFirstBlankRun)
{
    open("  MASK   file.png  \nFRAME 1 2  3 4 5 6\r\nFLAG\n\n\nFRAME\t10 20\nlast one");
    kvread r = io_readpairof(file);
    EXPECT_EQ(r.key, "MASK");
    EXPECT_EQ(r.value, "file.png  ");
    EXPECT_EQ(r.result, 0);
    r = io_readpairof(file);
    EXPECT_EQ(r.key, "FRAME");
    EXPECT_EQ(r.value, "1 2  3 4 5 6");
    r = io_readpairof(file);
    EXPECT_EQ(r.key, "FLAG");
    EXPECT_EQ(r.value, "");
    r = io_readpairof(file);  // the tab ends the line: the numbers are a line of their own
    EXPECT_EQ(r.key, "FRAME");
    EXPECT_EQ(r.value, "");
    r = io_readpairof(file);
    EXPECT_EQ(r.key, "10");
    EXPECT_EQ(r.value, "20");
    r = io_readpairof(file);
    EXPECT_EQ(r.key, "last");
    EXPECT_EQ(r.value, "one");
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(feof(file));
}

TEST_F(io_files, KeyValueOnEmptyFilesAndTrailingBlanks)
{
    open(" \n\n ");
    kvread r = io_readpairof(file);
    EXPECT_EQ(r.key, "");
    EXPECT_EQ(r.value, "");
    EXPECT_EQ(r.result, 1);
    fclose(file);

    open("KEY   ");  // blanks after the key but no value, then the end of the file
    r = io_readpairof(file);
    EXPECT_EQ(r.key, "KEY");
    EXPECT_EQ(r.value, "");
    EXPECT_EQ(r.result, 1);
}

TEST_F(io_files, KeyValueCutsEachPartToItsBuffer)
{
    open("LONGKEYWORD a long value here\nNEXT v\n");
    kvread r = io_readpairof(file, 5, 7);
    EXPECT_EQ(r.key, "LONG");
    EXPECT_EQ(r.value, "a long");
    EXPECT_EQ(r.result, 0);
    r = io_readpairof(file, 5, 7);
    EXPECT_EQ(r.key, "NEXT");
    EXPECT_EQ(r.value, "v");
}

TEST_F(io_files, KeywordMatchesExactlyAndCaseSensitively)
{
    static const char *const words[3] = {"FLAG", "MASK", "FRAME"};
    open("FRAME 1\nframe 1\nMASK a\nFLAGS x\n\nFRAMEWORK 2\nFRAME");
    char key[6], value[32];
    const int32_t expected[6] = {2, -1, 1, -1, -1, 2};
    for (int32_t want : expected)
        EXPECT_EQ(io_readkeyword(file, key, sizeof(key), value, sizeof(value), words, 3), want)
            << "key " << key;
    EXPECT_TRUE(feof(file));
    fclose(file);

    // Repeated words: the last one that equals the key gives the index.
    static const char *const twice[3] = {"A", "B", "A"};
    open("A x");
    EXPECT_EQ(io_readkeyword(file, key, sizeof(key), value, sizeof(value), twice, 3), 2);
    fclose(file);

    open("");
    EXPECT_EQ(io_readkeyword(file, key, sizeof(key), value, sizeof(value), words, 3), -1);
}

}  // namespace
