// app.h -- the demo program: frame loop, event handling and shutdown
#ifndef APP_APP_H
#define APP_APP_H

#include <cstdint>

#include "app/blob.h" // the field app_render draws

enum {
    APP_QUIT = 2 // app_state value once the user asked to quit
};

extern int32_t app_state; // 0 while running, APP_QUIT after a quit request

// The frame loop's pause between ticks (SDL_Delay); tests replace it to drive a fake clock.
extern void (*app_rawdelay)(uint32_t milliseconds);

// Takes every pending SDL event and acts on it (quit, screenshot keys, focus).
void app_pollevents();
// Modelview identity, then the blob field.
void app_render();
// Shows the drawn frame, then takes a requested screenshot.
void app_swap();
// Draws at most one frame per tick of timer slot 0 until a quit request; returns 0
// then, or 1 as soon as the video mode is lost (a failed restart), drawing nothing more.
int app_frameloop();
// Stops the audio engine, the display, the io service and SDL, in that order.
void app_shutdown();
// Reports an SDL failure on standard error ("SDL error: what: SDL's text"), then shuts down.
void app_sdlerror(const char* what);

#endif
