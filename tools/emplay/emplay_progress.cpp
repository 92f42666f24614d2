// emplay_progress.cpp -- the progress line of a long render
#include "emplay_progress.h"

#include <ctime>

int64_t emplay_nowms()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string emplay_progresstext(const emplay_progress& p, int64_t done)
{
    char text[256];
    const int64_t percent = p.total > 0 ? done * 100 / p.total : 100;
    snprintf(text, sizeof(text), "emplay: %s: %.1f of %.1f s rendered (%lld%%)", p.name.c_str(),
             static_cast<double>(done) / p.rate, static_cast<double>(p.total) / p.rate, static_cast<long long>(percent));
    return text;
}

void emplay_progressbegin(emplay_progress* p, FILE* out, const char* name, int64_t total, int32_t rate, int64_t nowms)
{
    *p = emplay_progress();
    p->out = out;
    p->name = name;
    p->total = total;
    p->rate = rate > 0 ? rate : 1;
    p->startms = nowms;
}

// Draws the line from the start of the terminal's line; the numbers only grow,
// so each drawing covers the one before.
static void emplay_progressdraw(emplay_progress* p, int64_t done, int64_t nowms)
{
    fprintf(p->out, "\r%s", emplay_progresstext(*p, done).c_str());
    fflush(p->out);
    p->drawnms = nowms;
}

void emplay_progressupdate(emplay_progress* p, int64_t done, int64_t nowms)
{
    if (!p->out || nowms - p->startms < EMPLAY_PROGRESSAFTER)
        return;
    if (p->drawnms < 0 || nowms - p->drawnms >= EMPLAY_PROGRESSEVERY)
        emplay_progressdraw(p, done, nowms);
}

void emplay_progressend(emplay_progress* p, int64_t done)
{
    if (!p->out || p->drawnms < 0)
        return;
    emplay_progressdraw(p, done, p->drawnms);
    fputc('\n', p->out);
    fflush(p->out);
}
