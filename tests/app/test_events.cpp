// test_events.cpp -- what each SDL event does to the program, and the swap
// that takes at most one screenshot however often it was asked for
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/app.h"
#include "gfx/gfx.h"
#include "tests/gfx/glcontext.h"
#include "io/io.h"

class AppEvents : public quorrel_videofixture {
protected:
    void SetUp() override
    {
        startvideo(64, 48);
        app_state = 0;
    }
    static std::string shotname(int n)
    {
        char name[32];
        snprintf(name, sizeof(name), "shot%04d.tga", n);
        return name;
    }
    static void key(SDLKey sym, Uint16 unicode)
    {
        SDL_Event event = {};
        event.type = SDL_KEYDOWN;
        event.key.state = SDL_PRESSED;
        event.key.keysym.sym = sym;
        event.key.keysym.unicode = unicode;
        SDL_PushEvent(&event);
    }
    // Lets the events the window system sent at start-up go first.
    static void drain()
    {
        SDL_Delay(50);
        app_pollevents();
        gfx_shotrequest = 0;
    }
};

TEST_F(AppEvents, ScreenshotKeysAskForAShotAndOtherKeysDoNothing)
{
    drain();
    key(SDLK_ESCAPE, 27);
    key(SDLK_a, 'a');
    key(SDLK_F11, 0);
    app_pollevents();
    EXPECT_EQ(gfx_shotrequest, 0u);
    EXPECT_EQ(app_state, 0);

    key(SDLK_F12, 0);
    app_pollevents();
    EXPECT_EQ(gfx_shotrequest, 1u);

    gfx_shotrequest = 0;
    // A keyboard layout may type the grave accent from any key; only the
    // character counts, in its low 8 bits.
    key(SDLK_BACKQUOTE, '`');
    app_pollevents();
    EXPECT_EQ(gfx_shotrequest, 1u);
    gfx_shotrequest = 0;
    key(SDLK_WORLD_5, 0x0160);
    app_pollevents();
    EXPECT_EQ(gfx_shotrequest, 1u);
    gfx_shotrequest = 0;
    key(SDLK_BACKQUOTE, 0);  // the key without its character, e.g. a dead key
    app_pollevents();
    EXPECT_EQ(gfx_shotrequest, 0u);
}

// Sent from SDL's timer thread once the loop runs.
static Uint32 app_requestquit(Uint32, void *)
{
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    return 0;
}

TEST_F(AppEvents, QuitRequestEndsTheLoopAfterTheCurrentPass)
{
    drain();
    blob_sprites = nullptr;
    blob_target = nullptr;
    const uint32_t start = SDL_GetTicks();
    SDL_TimerID timer = SDL_AddTimer(60, app_requestquit, nullptr);
    ASSERT_NE(timer, nullptr);
    // The loop runs (drawing at most once per 10 ms tick) until the request.
    app_frameloop();
    EXPECT_EQ(app_state, APP_QUIT);
    EXPECT_GE(SDL_GetTicks() - start, 50u);
}

TEST_F(AppEvents, ActivationInAWindowNeverRestartsTheVideoMode)
{
    drain();
    SDL_Event active = {};
    active.type = SDL_ACTIVEEVENT;
    active.active.gain = 1;
    active.active.state = SDL_APPACTIVE | SDL_APPINPUTFOCUS;
    SDL_PushEvent(&active);
    SDL_Event resize = {};
    resize.type = SDL_VIDEORESIZE;
    resize.resize.w = 10;
    resize.resize.h = 10;
    SDL_PushEvent(&resize);
    app_pollevents();
    EXPECT_EQ(app_state, 0);
    fflush(inout.logfile);
    std::ifstream in("log.txt");
    std::stringstream text;
    text << in.rdbuf();
    const std::string log = text.str();
    EXPECT_EQ(log.find("Bpp: 32"), log.rfind("Bpp: 32")) << "the mode was set once only";
}

TEST_F(AppEvents, SeveralRequestsBeforeOneSwapGiveOneScreenshot)
{
    drain();
    key(SDLK_F12, 0);
    key(SDLK_F12, 0);
    key(SDLK_BACKQUOTE, '`');
    app_pollevents();
    app_swap();
    EXPECT_EQ(gfx_shotrequest, 0u);
    EXPECT_EQ(access(shotname(0).c_str(), F_OK), 0);
    EXPECT_NE(access(shotname(1).c_str(), F_OK), 0);
    app_swap();  // no request: no file
    EXPECT_NE(access(shotname(1).c_str(), F_OK), 0);
    std::ifstream shot(shotname(0), std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long>(shot.tellg()), 18 + 64 * 48 * 4);
}
