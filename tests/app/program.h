// program.h -- runs the real quorrel program in a folder of its own on the
// test display and drives its window the way a user and a window manager do
#pragma once

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace program {

inline std::string binarydir()
{
    const char *dir = getenv("QUORREL_BINARY_DIR");
    return dir ? dir : ".";
}

inline std::string readfile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

inline long filesize(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Output of a shell command (trailing line end removed).
inline std::string shell(const std::string &command)
{
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe))
        out += buffer;
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// Waits until an X server accepts connections on the display; false after 10 s.
inline bool waitdisplay(const std::string &display)
{
    for (int i = 0; i < 500; i++) {
        if (Display *d = XOpenDisplay(display.c_str())) {
            XCloseDisplay(d);
            return true;
        }
        usleep(20000);
    }
    return false;
}

// A fresh run folder, with the data files from the project's generator when asked.
inline std::string makerundir(bool withdata)
{
    char pattern[] = "/tmp/quorrel-test-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir)
        return std::string();
    if (withdata)
        shell(binarydir() + "/tools/mkassets/mkassets " + dir);
    return dir;
}

inline void removedir(const std::string &dir)
{
    if (dir.rfind("/tmp/quorrel-test-", 0) == 0)
        shell("rm -rf '" + dir + "'");
}

// One run of the program, started in the background.
struct run {
    pid_t pid = -1;
    std::string dir;
    std::string errpath;

    // Starts quorrel in dir with extra environment settings (NAME=value).
    bool start(const std::string &rundir, const std::vector<std::pair<std::string, std::string>> &env = {})
    {
        dir = rundir;
        errpath = dir + "/stderr.txt";
        const std::string exe = binarydir() + "/app/quorrel";
        pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            for (const auto &e : env)
                setenv(e.first.c_str(), e.second.c_str(), 1);
            if (!freopen(errpath.c_str(), "w", stderr))
                _exit(126);
            if (!freopen((dir + "/stdout.txt").c_str(), "w", stdout))
                _exit(126);
            execl(exe.c_str(), "quorrel", "ignored-argument", static_cast<char *>(nullptr));
            _exit(127);
        }
        return true;
    }

    // Exit status, or -1 when it had to be killed after the timeout.
    int wait(int seconds = 20)
    {
        for (int i = 0; i < seconds * 100; i++) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            usleep(10000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }

    // The id of the program's window, waiting for it to appear; empty when it does not.
    std::string window() const
    {
        return shell("timeout 20 xdotool search --sync --name '^Quorrel project$' 2>/dev/null | head -n 1");
    }

    void key(const std::string &wid, const std::string &keys) const
    {
        shell("xdotool key --window " + wid + " " + keys);
    }

    // Asks the window to close as a window manager's close button does.
    bool close(const std::string &wid) const
    {
        return system((binarydir() + "/tools/xclose/xclose " + wid).c_str()) == 0;
    }

    std::string log() const { return readfile(dir + "/log.txt"); }
    std::string errors() const { return readfile(errpath); }
    std::string output() const { return readfile(dir + "/stdout.txt"); }
};

} // namespace program
