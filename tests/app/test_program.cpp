// test_program.cpp -- the real program on the test display, in a run folder of its own: a normal run
// (window, screenshot keys, closing as a window manager does, the whole log) and the runs that start badly
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

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

// The lines of log.txt, from the mode list to the allocation report.
std::string logpattern(const std::string& icon)
{
    return "((\\d+ \\d+\\n)*Detected \\d+ acceptable videomodes\\n)?Desktop resolution 1280\\*1024\\n" + icon +
           "Bpp: 32\\nScreen BPP: \\d+\\n\\nVendor     : [^\\n]*\\nRenderer   : [^\\n]*\\nVersion    : [^\\n]*\\n"
           "Extensions : [^\\n]*\\n\\nSDL_GL_STENCIL_SIZE: requested 0, got \\d+\\n"
           "SDL_GL_RED_SIZE: requested 8, got 8\\nSDL_GL_GREEN_SIZE: requested 8, got 8\\n"
           "SDL_GL_BLUE_SIZE: requested 8, got 8\\nSDL_GL_ALPHA_SIZE: requested 8, got 8\\n"
           "SDL_GL_DEPTH_SIZE: requested 16, got \\d+\\nSDL_GL_DOUBLEBUFFER: requested 1, got 1\\n"
           "(Stencil bits \\d+\\n)?Max bytes allocated during run: \\d+\\nBytes left allocated at io_deinit: 0\\n";
}

// Runs of quorrel in a fresh folder holding the generator's data files.
class Program : public ::testing::Test {
protected:
    const std::string bin = getenv("QUORREL_BINARY_DIR") ? getenv("QUORREL_BINARY_DIR") : ".";
    std::string dir = shell("mktemp -d /tmp/quorrel-test-XXXXXX");

    void SetUp() override { ASSERT_EQ(shell(bin + "/tools/mkassets/mkassets " + dir + " >/dev/null; echo $?"), "0"); }
    void TearDown() override { shell(HasFailure() ? "echo run folder kept: " + dir + " >&2" : "rm -rf " + dir); }
    std::string file(const std::string& name) const
    {
        std::stringstream text;
        text << std::ifstream(dir + "/" + name, std::ios::binary).rdbuf();
        return text.str();
    }
    // Starts the program in the background with settings (NAME=value ...); status.txt gets its status, 124 after 20 s.
    void start(const std::string& env)
    {
        shell("cd " + dir + " && rm -f status.txt log.txt && (env " + env + " timeout 20 " + bin +
              "/app/quorrel ignored-argument >stdout.txt 2>stderr.txt; echo $? >status.txt) >/dev/null 2>&1 &");
    }
    int wait()
    {
        for (int i = 0; i < 2200 && file("status.txt").empty(); i++)
            usleep(10000);
        return file("status.txt").empty() ? -1 : std::stoi(file("status.txt"));
    }
    // Waits for the window titled "Quorrel project"; its id, or empty.
    std::string window() { return shell("timeout 20 xdotool search --sync --name '^Quorrel project$' | head -n 1"); }
    // Asks the window to close as a window manager's close button does.
    bool close(const std::string& wid) { return shell(bin + "/tools/xclose/xclose " + wid + "; echo $?") == "0"; }
};

TEST_F(Program, NormalRunAndBadStartsAreLoggedAndTheReportEndsTheLog)
{
    // Each row: settings (DISPLAY=8bit: an 8-bit Xvfb, which offers no GL visual), whether a window opens
    // (then it is closed), the status, and regexes the log (null: the whole normal log, with the missing
    // icon's line but in the first row), standard error and standard output (null: not looked at) must
    // contain. The first row presses keys; the icon is removed before the last.
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
        start(env);
        const std::string wid = row.window ? window() : "";
        EXPECT_EQ(!wid.empty(), row.window);
        if (normal) { // without a window manager the position reads back as set
            const std::string geometry = shell("xdotool getwindowgeometry " + wid);
            EXPECT_NE(geometry.find("Position: 128,128"), std::string::npos) << geometry;
            EXPECT_NE(geometry.find("Geometry: 1024x768"), std::string::npos) << geometry;
            for (const char* keys : {"Escape q a Return", "F12", "grave"}) // other keys do nothing
                shell("sleep 0.4; xdotool key --window " + wid + " " + keys);
            usleep(400000);
        }
        EXPECT_TRUE(wid.empty() || close(wid));
        EXPECT_EQ(wait(), row.status);
        shell(xvfb.empty() ? "" : "kill " + xvfb);
        const std::string log = file("log.txt");
        const std::string whole = "^" + logpattern(normal ? "" : "ERROR: icon file not found!\\n") + "$";
        EXPECT_TRUE(std::regex_search(log, std::regex(row.log ? row.log : whole))) << log;
        EXPECT_EQ(log.size() - log.rfind("Bytes left allocated at io_deinit: 0\n"), 37u) << "the report ends the log";
        EXPECT_TRUE(std::regex_search(file("stderr.txt"), std::regex(row.err))) << file("stderr.txt");
        EXPECT_TRUE(!row.out || std::regex_search(file("stdout.txt"), std::regex(row.out))) << file("stdout.txt");
    }

    // The normal run's two shots; the others took none.
    const std::string first = file("shot0000.tga"), second = file("shot0001.tga");
    EXPECT_EQ(file("shot0002.tga"), "") << "only F12 and ` take shots";
    EXPECT_NE(first, second) << "the blobs moved between the two shots";
    for (const std::string& shot : {first, second}) {
        ASSERT_EQ(shot.size(), 3145746u);
        EXPECT_EQ(shot.substr(0, 18), std::string("\0\0\2\0\0\0\0\0\0\0\0\0\0\4\0\3\x20\0", 18)) << "1024x768, 32-bit";
        long lit = 0, black = 0, tinted = 0;
        int brightest = 0;
        for (size_t i = 18; i < shot.size(); i += 4) {
            const int b = static_cast<uint8_t>(shot[i]), g = static_cast<uint8_t>(shot[i + 1]);
            const int r = static_cast<uint8_t>(shot[i + 2]);
            brightest = std::max({brightest, r, g, b});
            (r + g + b ? lit : black)++;
            tinted += r != g || g != b;
        }
        EXPECT_GT(lit, 1000) << "blob shapes are visible";
        EXPECT_EQ(tinted, 0) << "the field is grey and white on black";
        EXPECT_GT(black, 1000) << "lone blobs and the background stay black";
        EXPECT_LE(brightest, 192) << "at most 0.75 of full scale";
    }
}

} // namespace
