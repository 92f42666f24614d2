// gfx_timer.cpp -- the millisecond tick timer with a divisor per slot, and the mouse warp
#include "gfx/gfx_local.h"

struct gfx_timer {
    uint32_t start;   // millisecond clock when the slot was started
    uint32_t divisor; // milliseconds per tick; 0 = never started
};

static gfx_timer gfx_timers[GFX_MAXTIMERS];
uint32_t (*gfx_rawgetticks)() = SDL_GetTicks;

uint32_t gfx_ticksbetween(uint32_t start, uint32_t now, uint32_t divisor)
{
    // A slot that was never started has no tick length: it reads 0 rather
    // than dividing by zero. The subtraction wraps modulo 2^32, so a wrap of
    // SDL's millisecond counter still gives the true elapsed time.
    if (divisor == 0)
        return 0;
    return (now - start) / divisor;
}

void gfx_starttimer(uint32_t slot, uint32_t divisor)
{
    if (slot >= GFX_MAXTIMERS)
        return;
    gfx_timers[slot].start = gfx_rawgetticks();
    gfx_timers[slot].divisor = divisor;
}

uint32_t gfx_readtimer(uint32_t slot)
{
    if (slot >= GFX_MAXTIMERS)
        return 0;
    return gfx_ticksbetween(gfx_timers[slot].start, gfx_rawgetticks(), gfx_timers[slot].divisor);
}

void gfx_warpmouse(uint16_t x, uint16_t y)
{
    SDL_WarpMouse(x, y);
}
