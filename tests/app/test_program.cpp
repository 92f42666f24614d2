// test_program.cpp -- the real program on the test display: start-up order in
// the log, the window, closing it as a window manager does, screenshot keys,
// and the failed start-ups
#include <gtest/gtest.h>

#include <regex>

#include "program.h"

using program::run;

// The lines a run writes into log.txt, in order, from the mode list to the
// allocation report.
static const char *const LOG_PATTERN =
    "((\\d+ \\d+\\n)*Detected \\d+ acceptable videomodes\\n)?"
    "Desktop resolution 1280\\*1024\\n"
    "%ICON%"
    "Bpp: 32\\n"
    "Screen BPP: \\d+\\n"
    "\\n"
    "Vendor     : [^\\n]*\\n"
    "Renderer   : [^\\n]*\\n"
    "Version    : [^\\n]*\\n"
    "Extensions : [^\\n]*\\n"
    "\\n"
    "SDL_GL_STENCIL_SIZE: requested 0, got \\d+\\n"
    "SDL_GL_RED_SIZE: requested 8, got 8\\n"
    "SDL_GL_GREEN_SIZE: requested 8, got 8\\n"
    "SDL_GL_BLUE_SIZE: requested 8, got 8\\n"
    "SDL_GL_ALPHA_SIZE: requested 8, got 8\\n"
    "SDL_GL_DEPTH_SIZE: requested 16, got \\d+\\n"
    "SDL_GL_DOUBLEBUFFER: requested 1, got 1\\n"
    "(Stencil bits \\d+\\n)?"
    "Max bytes allocated during run: \\d+\\n"
    "Bytes left allocated at io_deinit: 0\\n";

static std::regex logpattern(const std::string &icon)
{
    std::string pattern = LOG_PATTERN;
    pattern.replace(pattern.find("%ICON%"), 6, icon);
    return std::regex(pattern);
}

class Program : public ::testing::Test {
protected:
    std::string dir;
    void TearDown() override
    {
        if (!HasFailure())
            program::removedir(dir);
        else
            printf("run folder kept: %s\n", dir.c_str());
    }
};

TEST_F(Program, RunsCentredAndClosesOnAWindowCloseRequest)
{
    dir = program::makerundir(true);
    ASSERT_TRUE(program::exists(dir + "/icon.bmp"));
    run demo;
    ASSERT_TRUE(demo.start(dir));
    const std::string wid = demo.window();
    ASSERT_FALSE(wid.empty()) << "no window titled 'Quorrel project'";

    // Without a window manager the position reads back as set.
    const std::string geometry = program::shell("xdotool getwindowgeometry " + wid);
    EXPECT_NE(geometry.find("Position: 128,128"), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("Geometry: 1024x768"), std::string::npos) << geometry;

    // No key ends the program.
    demo.key(wid, "Escape q a Return");
    usleep(300000);
    EXPECT_EQ(program::shell("ls " + dir + " | grep -c '^shot' || true"), "0") << "only F12 and ` take shots";
    ASSERT_TRUE(demo.close(wid));
    EXPECT_EQ(demo.wait(), 0);

    const std::string log = demo.log();
    EXPECT_TRUE(std::regex_match(log, logpattern(""))) << log;
    // The audio engine ran (dummy driver) and reports on the console itself.
    EXPECT_TRUE(std::regex_match(demo.output(), std::regex("Max bytes allocated during run: \\d+\\n"
                                                           "Bytes left allocated at io_deinit: 0\\n")))
        << demo.output();
    EXPECT_EQ(demo.errors(), "");
}

// Reads a screenshot's header and pixels; false when it is not the expected TGA.
static bool readshot(const std::string &path, std::string *pixels)
{
    const std::string file = program::readfile(path);
    if (file.size() != 18 + 1024 * 768 * 4)
        return false;
    const unsigned char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 3, 32, 0};
    if (file.compare(0, 18, std::string(reinterpret_cast<const char *>(header), 18)) != 0)
        return false;
    *pixels = file.substr(18);
    return true;
}

TEST_F(Program, ScreenshotKeysSaveTheFieldAsItMoves)
{
    dir = program::makerundir(true);
    ASSERT_TRUE(program::exists(dir + "/blobs.tga"));
    run demo;
    ASSERT_TRUE(demo.start(dir));
    const std::string wid = demo.window();
    ASSERT_FALSE(wid.empty());
    usleep(500000);
    demo.key(wid, "F12");
    usleep(400000);
    demo.key(wid, "grave");
    usleep(400000);
    ASSERT_TRUE(demo.close(wid));
    EXPECT_EQ(demo.wait(), 0);

    std::string first, second;
    ASSERT_TRUE(readshot(dir + "/shot0000.tga", &first)) << program::filesize(dir + "/shot0000.tga");
    ASSERT_TRUE(readshot(dir + "/shot0001.tga", &second)) << program::filesize(dir + "/shot0001.tga");
    EXPECT_FALSE(program::exists(dir + "/shot0002.tga"));
    EXPECT_NE(first, second) << "the blobs moved between the two shots";
    for (const std::string *shot : {&first, &second}) {
        long lit = 0, black = 0;
        int brightest = 0;
        for (size_t i = 0; i < shot->size(); i += 4) {
            const int b = static_cast<unsigned char>((*shot)[i]);
            const int g = static_cast<unsigned char>((*shot)[i + 1]);
            const int r = static_cast<unsigned char>((*shot)[i + 2]);
            brightest = std::max(brightest, std::max(r, std::max(g, b)));
            if (r + g + b == 0)
                black++;
            else
                lit++;
        }
        EXPECT_GT(lit, 1000) << "blob shapes are visible";
        EXPECT_GT(black, 1000) << "lone blobs and the background stay black";
        EXPECT_LE(brightest, 192) << "at most 0.75 of full scale";
    }
    EXPECT_TRUE(std::regex_match(demo.log(), logpattern(""))) << demo.log();
}

TEST_F(Program, WithoutAnAudioDeviceTheDemoRunsSilent)
{
    dir = program::makerundir(true);
    run demo;
    ASSERT_TRUE(demo.start(dir, {{"SDL_AUDIODRIVER", "nosuchdriver"}}));
    const std::string wid = demo.window();
    ASSERT_FALSE(wid.empty());
    usleep(200000);
    ASSERT_TRUE(demo.close(wid));
    EXPECT_EQ(demo.wait(), 0);
    const std::string log = demo.log();
    EXPECT_NE(log.find("Desktop resolution 1280*1024\nERROR: Couldn't start mixer!\n\nBpp: 32\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    EXPECT_EQ(demo.output(), "") << "an engine that never started reports nothing";
}

TEST_F(Program, MissingIconIsLoggedAndTheDemoRunsOn)
{
    dir = program::makerundir(true);
    ASSERT_EQ(unlink((dir + "/icon.bmp").c_str()), 0);
    run demo;
    ASSERT_TRUE(demo.start(dir));
    const std::string wid = demo.window();
    ASSERT_FALSE(wid.empty());
    usleep(200000);
    ASSERT_TRUE(demo.close(wid));
    EXPECT_EQ(demo.wait(), 0);
    const std::string log = demo.log();
    EXPECT_TRUE(std::regex_match(log, logpattern("ERROR: icon file not found!\\n"))) << log;
}

TEST_F(Program, UnreadableIconIsLikeAMissingOne)
{
    dir = program::makerundir(true);
    {
        std::ofstream bogus(dir + "/icon.bmp", std::ios::binary | std::ios::trunc);
        bogus << "BM not really a bitmap";
    }
    run demo;
    ASSERT_TRUE(demo.start(dir));
    const std::string wid = demo.window();
    ASSERT_FALSE(wid.empty());
    ASSERT_TRUE(demo.close(wid));
    EXPECT_EQ(demo.wait(), 0);
    EXPECT_TRUE(std::regex_match(demo.log(), logpattern("ERROR: icon file not found!\\n"))) << demo.log();
}

TEST_F(Program, SdlThatCannotStartExitsWithStatusOne)
{
    dir = program::makerundir(true);
    run demo;
    ASSERT_TRUE(demo.start(dir, {{"SDL_VIDEODRIVER", "nosuchdriver"}}));
    EXPECT_EQ(demo.wait(), 1);
    const std::string errors = demo.errors();
    EXPECT_EQ(errors.rfind("SDL error: initialising SDL: ", 0), 0u) << errors;
    EXPECT_EQ(errors.back(), '\n');
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_EQ(demo.log(), "Max bytes allocated during run: 0\n"
                          "Bytes left allocated at io_deinit: 0\n");
}

// An X server with an 8-bit screen offers no GL visual: the mode cannot be set.
TEST_F(Program, VideoModeThatCannotBeSetExitsWithStatusOne)
{
    dir = program::makerundir(true);
    const std::string fdfile = dir + "/display.txt";
    const std::string xpid = program::shell("Xvfb -displayfd 3 -screen 0 1024x768x8 -nolisten tcp -noreset 3>" + fdfile +
                                            " >/dev/null 2>&1 & echo $!");
    std::string number;
    for (int i = 0; i < 500 && number.empty(); i++) {
        usleep(20000);
        number = program::readfile(fdfile);
        while (!number.empty() && number.back() == '\n')
            number.pop_back();
    }
    ASSERT_FALSE(number.empty()) << "could not start an 8-bit Xvfb";
    ASSERT_TRUE(program::waitdisplay(":" + number)) << "the 8-bit Xvfb accepts no connections";
    run demo;
    ASSERT_TRUE(demo.start(dir, {{"DISPLAY", ":" + number}}));
    const int status = demo.wait();
    program::shell("kill " + xpid);
    EXPECT_EQ(status, 1);
    const std::string log = demo.log();
    EXPECT_TRUE(std::regex_search(log, std::regex("Bpp: 32\\nERROR: Couldn't set GL mode: [^\\n]+\\n\\n"
                                                  "Max bytes allocated during run: \\d+\\n"
                                                  "Bytes left allocated at io_deinit: 0\\n$")))
        << log;
    EXPECT_EQ(demo.errors(), "");
}
