// test_loop.cpp -- the frame loop on a fake clock, focus events and the video restart, and a restart that fails
#include <GL/gl.h>

#include "app/app.h"
#include "app/blob.h"
#include "tests/kit/kit_gl.h"

namespace {

// What the fake pause and mode change saw. Every blob steps 1 to the right per drawn frame, so blobs[0].x counts frames.
struct loop_script {
    std::vector<uint32_t> pauses, modeflags; // the argument of every pause, the flags of every mode change
    std::vector<int32_t> drawn;              // frames drawn before each pause
    size_t jumpat = 0, quitafter = 1000;     // the pause (from 1) that takes 55 ms; the one after which the user quits
    bool modefails = false;                  // mode changes fail, taking 20 ms (two ticks)
} script;

void fakepause(uint32_t ms)
{
    script.pauses.push_back(ms), script.drawn.push_back(blobs[0].x);
    kit_fakems += script.pauses.size() == script.jumpat ? 55 : ms;
    if (script.pauses.size() >= script.quitafter)
        app_state = APP_QUIT;
}

// A mode change that keeps the window as it is (so the window system sends no events), or fails as SDL does.
SDL_Surface* fakesetmode(int, int, int, uint32_t flags)
{
    script.modeflags.push_back(flags);
    if (!script.modefails)
        return SDL_GetVideoSurface();
    kit_fakems += 20;
    SDL_SetError("mode refused by the test");
    return nullptr;
}

void pushfocus(uint8_t gain, uint8_t state)
{
    SDL_Event event = {SDL_ACTIVEEVENT};
    event.active.gain = gain, event.active.state = state;
    SDL_PushEvent(&event);
}

class Loop : public kit_glfixture {
protected:
    void SetUp() override
    {
        kit_glfixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(startvideo(64, 48));
        script = loop_script();
        blob_sprites = gfx_createimage("blobs.tga", 4, 4, 32, 1);
        blob_target = gfx_createimage("blobrender", BLOB_AREA, BLOB_AREA, 32, 1);
        ASSERT_TRUE(blob_sprites && blob_target);
        blob_sprites->flags = GFX_NOMIP;
        for (blob& b : blobs)
            b = {0, 0, 0, 1, 0};
        SDL_Delay(50); // the window system's own events (mapping, pointer) come first
        app_pollevents();
        app_state = 0;
        kit_usefakeclock(0);
        app_rawdelay = fakepause, gfx_rawsetvideomode = fakesetmode;
    }
    void TearDown() override { app_rawdelay = SDL_Delay, kit_glfixture::TearDown(); }
};

TEST_F(Loop, CheapFramesAreDrawnOncePerTickWithOneMillisecondPausesAndNoCatchingUp)
{
    // Frames drawn before each pause; a tick's frame comes after the pause that reached it. Pause 5 of the second
    // row stands for a stall of 55 ms: the clock goes from 4 to 59 ms (tick 5).
    std::vector<int32_t> steady, stall = {0, 0, 0, 0, 0, 1};
    for (int32_t k = 0; k < 50; k++)
        steady.push_back(k / 10), k < 20 ? stall.push_back(2 + k / 10) : void();
    const struct {
        size_t jumpat, quitafter;
        std::vector<int32_t> drawn;
        int32_t frames;
    } rows[] = {{0, 50, steady, 4}, {5, 26, stall, 3}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.jumpat ? "a stall of five ticks" : "steady clock");
        script = loop_script();
        script.jumpat = row.jumpat, script.quitafter = row.quitafter;
        for (blob& b : blobs)
            b.x = 0;
        app_state = 0;
        kit_usefakeclock(0);
        EXPECT_EQ(app_frameloop(), 0);
        EXPECT_EQ(script.pauses, std::vector<uint32_t>(row.quitafter, 1u));
        EXPECT_EQ(script.drawn, row.drawn);
        EXPECT_EQ(blobs[0].x, row.frames) << "the pass that sees the quit request ends the loop";
    }
}

TEST_F(Loop, OnlyAGainOfFocusInFullScreenModeRestartsTheVideoMode)
{
    const uint32_t rows[][4] = {// video flags, gain, state, whether the mode is set again
                                {0, 1, SDL_APPINPUTFOCUS | SDL_APPACTIVE, 0},
                                {0, 0, SDL_APPINPUTFOCUS, 0},
                                {SDL_FULLSCREEN, 0, SDL_APPACTIVE, 0},
                                {SDL_FULLSCREEN, 1, SDL_APPMOUSEFOCUS, 1},
                                {SDL_FULLSCREEN, 1, SDL_APPACTIVE, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "flags " << row[0] << ", gain " << row[1] << ", state " << row[2]);
        script.modeflags.clear();
        gfx_bindimage(blob_sprites);
        const uint32_t texture = blob_sprites->texture;
        gfx_videoflags = row[0];
        pushfocus(uint8_t(row[1]), uint8_t(row[2]));
        app_pollevents();
        gfx_videoflags = 0;
        EXPECT_EQ(gfx_videoset, 1);
        EXPECT_EQ(script.modeflags, std::vector<uint32_t>(row[3], SDL_FULLSCREEN | SDL_OPENGL | SDL_HWSURFACE));
        // Textures are released before the mode is set again, and made again on the next bind.
        EXPECT_EQ(int(glIsTexture(texture)) + blob_sprites->uploaded, row[3] ? 0 : 2);
        gfx_bindimage(blob_sprites);
        EXPECT_TRUE(blob_sprites->uploaded == 1 && glIsTexture(blob_sprites->texture));
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
    EXPECT_EQ(kit_fakems, 20u) << "a frame was due when the loop left";
    // Nothing was drawn or swapped (no texture made without a context, the shot still asked for).
    EXPECT_TRUE(gfx_videoset == 0 && script.pauses.empty() && blobs[0].x == 0 && blob_sprites->uploaded == 0 &&
                gfx_shotrequest == 1);
    EXPECT_EQ(gfx_restartvideo(), 1) << "there is no mode left to set again";
    EXPECT_EQ(script.modeflags.size(), 1u);
    app_shutdown();
    const std::string log = kit_readfile("log.txt");
    EXPECT_NE(log.find("ERROR: Couldn't set GL mode: mode refused by the test\n\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << log;
}

} // namespace
