// emplay_progress.h -- the progress line of a long render: drawn in place on
// standard error when that is a terminal, once the render has run a while
#ifndef TOOLS_EMPLAY_EMPLAY_PROGRESS_H
#define TOOLS_EMPLAY_EMPLAY_PROGRESS_H

#include <cstdint>
#include <cstdio>
#include <string>

enum {
    EMPLAY_PROGRESSAFTER = 2000, // ms a render runs before its line is first drawn
    EMPLAY_PROGRESSEVERY = 250   // ms between two drawings
};

struct emplay_progress {
    FILE* out = nullptr;  // where the line goes; null: it is never drawn
    std::string name;     // the file being rendered
    int64_t total = 0;    // frames planned
    int32_t rate = 1;     // frames per second
    int64_t startms = 0;  // when the render began, on the clock of emplay_nowms
    int64_t drawnms = -1; // when the line was last drawn; -1 never
};

// Milliseconds on a clock that only moves forward.
int64_t emplay_nowms();

// The line for done of total frames: "emplay: out.wav: 12.5 of 60.0 s rendered (20%)".
std::string emplay_progresstext(const emplay_progress& p, int64_t done);

// Starts watching a render of total frames into name; the line goes to out
// (null: never drawn).
void emplay_progressbegin(emplay_progress* p, FILE* out, const char* name, int64_t total, int32_t rate, int64_t nowms);

// Draws the line over the last one when the render has run EMPLAY_PROGRESSAFTER
// ms and the last drawing is EMPLAY_PROGRESSEVERY ms old.
void emplay_progressupdate(emplay_progress* p, int64_t done, int64_t nowms);

// Draws the final count and ends the line, if it was ever drawn.
void emplay_progressend(emplay_progress* p, int64_t done);

#endif
