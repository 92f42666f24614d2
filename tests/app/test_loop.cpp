// test_loop.cpp -- the frame loop on a fake clock (one frame per tick, 1 ms pauses, no catching up),
// focus events and the video restart, and a restart that fails
#include <GL/gl.h>

#include <vector>

#include "app/app.h"
#include "app/blob.h"
#include "tests/gfx/glcontext.h"

namespace {

// What the fake pause and the fake mode change saw, and how they move the clock. Every blob steps
// 1 to the right per drawn frame, so blobs[0].x counts the frames.
struct loop_script {
    std::vector<uint32_t> pauses; // the argument of every pause
    std::vector<int32_t> drawn;   // frames drawn before each pause
    size_t jumpat = 0;            // the pause (counted from 1) that takes jumpms instead
    uint32_t jumpms = 0;
    size_t quitafter = 1000;         // the pause after which the user asks to quit
    std::vector<uint32_t> modeflags; // the flags of every mode change
    bool modefails = false;          // mode changes fail, taking 20 ms
};
loop_script script;

void fakepause(uint32_t ms)
{
    script.pauses.push_back(ms);
    script.drawn.push_back(blobs[0].x);
    quorrel_fakems += script.pauses.size() == script.jumpat ? script.jumpms : ms;
    if (script.pauses.size() >= script.quitafter)
        app_state = APP_QUIT;
}

// A mode change that keeps the window as it is (so the window system sends no events), or fails as SDL does.
SDL_Surface* fakesetmode(int, int, int, uint32_t flags)
{
    script.modeflags.push_back(flags);
    if (!script.modefails)
        return SDL_GetVideoSurface();
    quorrel_fakems += 20; // the failure spans two ticks
    SDL_SetError("mode refused by the test");
    return nullptr;
}

class Loop : public quorrel_fixture {
protected:
    void SetUp() override
    {
        quorrel_fixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(startvideo(64, 48));
        script = loop_script();
        blob_sprites = gfx_createimage("blobs.tga", 4, 4, 32, 1);
        blob_target = gfx_createimage("blobrender", BLOB_AREA, BLOB_AREA, 32, 1);
        ASSERT_TRUE(blob_sprites && blob_target);
        blob_sprites->flags = GFX_NOMIP;
        for (blob& b : blobs)
            b = {0, 0, 0, 1, 0};
        // The window system's own events (mapping, pointer) are taken in a window first.
        SDL_Delay(50);
        app_pollevents();
        app_state = 0;
        quorrel_usefakeclock(0);
        app_rawdelay = fakepause;
        gfx_rawsetvideomode = fakesetmode;
    }
    void TearDown() override
    {
        app_rawdelay = SDL_Delay;
        quorrel_fixture::TearDown();
    }
    static void pushfocus(uint8_t gain, uint8_t state)
    {
        SDL_Event event = {SDL_ACTIVEEVENT};
        event.active.gain = gain, event.active.state = state;
        SDL_PushEvent(&event);
    }
};

// Frames drawn before each pause when every tick takes ten 1 ms pauses: a tick's frame comes after the pause that reached it.
std::vector<int32_t> steadyframes(int32_t first, size_t pauses, std::vector<int32_t> drawn = {})
{
    for (size_t k = 0; k < pauses; k++)
        drawn.push_back(first + static_cast<int32_t>(k / 10));
    return drawn;
}

TEST_F(Loop, CheapFramesAreDrawnOncePerTickWithOneMillisecondPausesAndNoCatchingUp)
{
    // Pause 5 stands for a stall of 55 ms: the clock goes from 4 to 59 ms (tick 5).
    const struct {
        const char* what;
        size_t jumpat, quitafter;
        std::vector<int32_t> drawn;
        int32_t frames;
    } rows[] = {
        {"steady clock", 0, 50, steadyframes(0, 50), 4},
        {"a stall of five ticks", 5, 26, steadyframes(2, 20, {0, 0, 0, 0, 0, 1}), 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        script = loop_script();
        script.jumpat = row.jumpat, script.jumpms = 55, script.quitafter = row.quitafter;
        for (blob& b : blobs)
            b.x = 0;
        app_state = 0;
        quorrel_usefakeclock(0);
        EXPECT_EQ(app_frameloop(), 0);
        EXPECT_EQ(script.pauses, std::vector<uint32_t>(row.quitafter, 1u));
        EXPECT_EQ(script.drawn, row.drawn);
        EXPECT_EQ(blobs[0].x, row.frames) << "the pass that sees the quit request ends the loop";
    }
}

TEST_F(Loop, OnlyAGainOfFocusInFullScreenModeRestartsTheVideoMode)
{
    const struct {
        uint32_t flags;
        uint8_t gain, state;
        bool restarts;
    } rows[] = {
        {0, 1, SDL_APPINPUTFOCUS | SDL_APPACTIVE, false}, {0, 0, SDL_APPINPUTFOCUS, false},
        {SDL_FULLSCREEN, 0, SDL_APPACTIVE, false},        {SDL_FULLSCREEN, 1, SDL_APPMOUSEFOCUS, true},
        {SDL_FULLSCREEN, 1, SDL_APPACTIVE, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "flags " << row.flags << ", gain " << int(row.gain) << ", state " << int(row.state));
        script.modeflags.clear();
        gfx_bindimage(blob_sprites);
        const uint32_t texture = blob_sprites->texture;
        gfx_videoflags = row.flags;
        pushfocus(row.gain, row.state);
        app_pollevents();
        gfx_videoflags = 0;
        EXPECT_EQ(gfx_videoset, 1);
        if (!row.restarts) {
            EXPECT_TRUE(script.modeflags.empty() && blob_sprites->uploaded == 1 && blob_sprites->texture == texture);
            continue;
        }
        EXPECT_EQ(script.modeflags, std::vector<uint32_t>({SDL_FULLSCREEN | SDL_OPENGL | SDL_HWSURFACE}));
        EXPECT_TRUE(blob_sprites->uploaded == 0 && !glIsTexture(texture)) << "textures are released before the mode is set again";
        gfx_bindimage(blob_sprites);
        EXPECT_TRUE(blob_sprites->uploaded == 1 && glIsTexture(blob_sprites->texture)) << "and made again on the next bind";
    }
}

TEST_F(Loop, AFailedRestartEndsTheLoopBeforeAnythingIsDrawnOrSwapped)
{
    script.modefails = true;
    gfx_bindimage(blob_sprites);
    gfx_videoflags = SDL_FULLSCREEN;
    gfx_shotrequest = 1; // a swap would take the shot and clear the request
    pushfocus(1, SDL_APPINPUTFOCUS);
    EXPECT_EQ(app_frameloop(), 1);
    EXPECT_EQ(script.modeflags.size(), 1u);
    EXPECT_EQ(quorrel_fakems, 20u) << "a frame was due when the loop left";
    EXPECT_EQ(gfx_videoset, 0);
    EXPECT_TRUE(script.pauses.empty() && blobs[0].x == 0) << "nothing was drawn";
    EXPECT_EQ(blob_sprites->uploaded, 0) << "no texture is made without a context";
    EXPECT_EQ(gfx_shotrequest, 1u);
    EXPECT_EQ(gfx_restartvideo(), 1) << "there is no mode left to set again";
    EXPECT_EQ(script.modeflags.size(), 1u);

    app_shutdown();
    EXPECT_EQ(gfx_images, nullptr);
    EXPECT_NE(access("shot0000.tga", F_OK), 0);
    const std::string log = quorrel_readlog();
    EXPECT_NE(log.find("ERROR: Couldn't set GL mode: mode refused by the test\n\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR: name"), std::string::npos) << log;
    const std::string report = "Bytes left allocated at io_deinit: 0\n";
    EXPECT_EQ(log.size() - log.rfind(report), report.size()) << log;
}

} // namespace
