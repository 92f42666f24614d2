// test_program.cpp -- the real program on the test display: a normal run (window, keys, closing, the log) and bad starts
#include <gtest/gtest.h>

#include <regex>

#include "tests/kit/kit.h"

namespace {

// Output of a shell command, without its last line end.
std::string shell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        for (int c; (c = fgetc(pipe)) != EOF;)
            out += static_cast<char>(c);
        pclose(pipe);
    }
    return out.empty() || out.back() != '\n' ? out : out.substr(0, out.size() - 1);
}

// The lines of a normal run's log.txt, from the mode list to the allocation report, with the missing icon's line.
std::string logpattern(bool noicon)
{
    return "^((\\d+ \\d+\\n)*Detected \\d+ acceptable videomodes\\n)?Desktop resolution 1280\\*1024\\n" +
           std::string(noicon ? "ERROR: icon file not found!\\n" : "") +
           "Bpp: 32\\nScreen BPP: \\d+\\n\\nVendor     : [^\\n]*\\nRenderer   : [^\\n]*\\nVersion    : [^\\n]*\\n"
           "Extensions : [^\\n]*\\n\\nSDL_GL_STENCIL_SIZE: requested 0, got \\d+\\n"
           "SDL_GL_RED_SIZE: requested 8, got 8\\nSDL_GL_GREEN_SIZE: requested 8, got 8\\n"
           "SDL_GL_BLUE_SIZE: requested 8, got 8\\nSDL_GL_ALPHA_SIZE: requested 8, got 8\\n"
           "SDL_GL_DEPTH_SIZE: requested 16, got \\d+\\nSDL_GL_DOUBLEBUFFER: requested 1, got 1\\n"
           "(Stencil bits \\d+\\n)?Max bytes allocated during run: \\d+\\nBytes left allocated at io_deinit: 0\\n$";
}

// Runs of quorrel in a fresh folder holding the generator's data files.
class Program : public ::testing::Test {
protected:
    const std::string bin = getenv("QUORREL_BINARY_DIR") ? getenv("QUORREL_BINARY_DIR") : ".";
    kit_tempdir files;
    const std::string dir = files.path;

    void SetUp() override { ASSERT_EQ(shell(bin + "/tools/mkassets/mkassets " + dir + " >/dev/null; echo $?"), "0"); }
    std::string file(const std::string& name) const { return kit_readfile(dir + "/" + name); }
};

TEST_F(Program, NormalRunAndBadStartsAreLoggedAndTheReportEndsTheLog)
{
    // Settings (DISPLAY=8bit: an 8-bit Xvfb, no GL visual), whether a window opens (then closed), the status, and regexes
    // for the log (null: the whole normal log, the last row's without the icon), stderr and stdout (null: not looked at).
    struct {
        const char *what, *env;
        bool window;
        int status;
        const char *log, *err, *out;
    } const rows[] = {
        {"normal run", "", true, 0, nullptr, "^$",
         "^Max bytes allocated during run: \\d+\\nBytes left allocated at io_deinit: 0\\n$"},
        {"SDL cannot start", "SDL_VIDEODRIVER=nosuchdriver", false, 1, "^Max bytes allocated during run: 0\\n",
         "^SDL error: initialising SDL: [^\\n]*\\n$", nullptr},
        {"the mode cannot be set", "DISPLAY=8bit", false, 1,
         "Bpp: 32\\nERROR: Couldn't set GL mode: [^\\n]+\\n\\nMax bytes allocated during run: \\d+\\n", "^$", nullptr},
        {"no audio device", "SDL_AUDIODRIVER=nosuchdriver", true, 0,
         "Desktop resolution 1280\\*1024\\nERROR: Couldn't start mixer!\\n\\nBpp: 32\\n", "^$", "^$"},
        {"no icon", "", true, 0, nullptr, "^$", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const bool normal = &row == rows;
        std::string env = row.env, xvfb;
        if (env == "DISPLAY=8bit") {
            // Xvfb writes its display number once it accepts connections.
            xvfb = shell("Xvfb -displayfd 3 -screen 0 1024x768x8 -nolisten tcp -noreset 3>" + dir +
                         "/display.txt >/dev/null 2>&1 & echo $!");
            for (int i = 0; i < 500 && file("display.txt").empty(); i++)
                usleep(20000);
            ASSERT_NE(file("display.txt"), "") << "could not start an 8-bit Xvfb";
            env = "DISPLAY=:" + file("display.txt").substr(0, file("display.txt").size() - 1);
        }
        if (!row.log && !normal)
            shell("rm " + dir + "/icon.bmp");
        // In the background; status.txt gets its status, 124 after 20 s.
        shell("cd " + dir + " && rm -f status.txt log.txt && (env " + env + " timeout 20 " + bin +
              "/app/quorrel ignored-argument >stdout.txt 2>stderr.txt; echo $? >status.txt) >/dev/null 2>&1 &");
        const std::string wid =
            row.window ? shell("timeout 20 xdotool search --sync --name '^Quorrel project$' | head -n 1") : "";
        EXPECT_EQ(!wid.empty(), row.window);
        if (normal) { // without a window manager the position reads back as set
            const std::string geometry = shell("xdotool getwindowgeometry " + wid);
            EXPECT_TRUE(geometry.find("Position: 128,128") + 1 && geometry.find("Geometry: 1024x768") + 1) << geometry;
            for (const char* keys : {"Escape q a Return", "F12", "grave"}) // other keys do nothing
                shell("sleep 0.4; xdotool key --window " + wid + " " + keys);
            usleep(400000);
        }
        EXPECT_TRUE(wid.empty() || shell(bin + "/tools/xclose/xclose " + wid + "; echo $?") == "0"); // as a close button
        for (int i = 0; i < 2200 && file("status.txt").empty(); i++)
            usleep(10000);
        EXPECT_EQ(file("status.txt"), std::to_string(row.status) + "\n");
        shell(xvfb.empty() ? "" : "kill " + xvfb);
        const std::string log = file("log.txt");
        EXPECT_TRUE(std::regex_search(log, std::regex(row.log ? row.log : logpattern(!normal)))) << log;
        EXPECT_EQ(log.size() - log.rfind("Bytes left allocated at io_deinit: 0\n"), 37u) << "the report ends the log";
        EXPECT_TRUE(std::regex_search(file("stderr.txt"), std::regex(row.err))) << file("stderr.txt");
        EXPECT_TRUE(!row.out || std::regex_search(file("stdout.txt"), std::regex(row.out))) << file("stdout.txt");
    }

    // The normal run's two shots; the others took none.
    const std::string first = file("shot0000.tga"), second = file("shot0001.tga");
    EXPECT_EQ(file("shot0002.tga"), "") << "only F12 and ` take shots";
    EXPECT_NE(first, second) << "the blobs moved between the two shots";
    for (const std::string& shot : {first, second}) {
        ASSERT_EQ(shot.size(), 3145746u); // the header's bytes are test_image's
        long lit = 0, black = 0, tinted = 0, brightest = 0;
        for (size_t i = 18; i < shot.size(); i += 4) {
            const uint8_t b = shot[i], g = shot[i + 1], r = shot[i + 2];
            brightest = std::max<long>({brightest, r, g, b}), (r + g + b ? lit : black)++, tinted += r != g || g != b;
        }
        // Blob shapes are visible, grey and white on black (lone blobs and the background), at most 0.75 of full scale.
        EXPECT_TRUE(lit > 1000 && black > 1000 && tinted == 0 && brightest <= 192)
            << lit << " lit, " << black << " black, " << tinted << " tinted, brightest " << brightest;
    }
}

} // namespace
