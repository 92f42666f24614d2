// bench_common.cpp -- the clock, the table stream, the voice kinds and the
// voice parameters that the engine's voices and the peer's sources share
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "bench/bench.h"

const emb_kindinfo emb_kinds[EMB_KINDS] = {
    // key, name, stereo, stepped, ramped, placed, interp, peer
    {"mono", "mono, unit step", false, false, false, false, false, true},
    {"monostep", "mono, stepped", false, true, false, false, false, true},
    {"stereo", "stereo, unit step", true, false, false, false, false, true},
    {"monoramp", "mono, ramped every buffer", false, true, true, false, false, true},
    {"stereoramp", "stereo, ramped every buffer", true, true, true, false, false, true},
    {"3d", "3-D, moving", false, false, false, true, false, true},
    {"monolerp", "mono, stepped, interpolated", false, true, false, false, true, true},
    {"stereolerp", "stereo, stepped, interpolated", true, true, false, false, true, true},
    {"3dlerp", "3-D, moving, interpolated", false, false, false, true, true, true},
    {"sequencer", "sequencer channels (8 a sequencer)", false, false, false, false, false, false},
    {"monofade", "mono, stepped, fading (em_fade)", false, true, false, false, false, false},
};

static FILE* emb_tables = stdout;

void emb_opentables()
{
    fflush(stdout);
    const int fd = dup(STDOUT_FILENO);
    FILE* tables = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!tables || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        if (tables)
            fclose(tables);
        return;
    }
    // Whole lines: a row leaves in one write.
    setvbuf(tables, nullptr, _IOLBF, 0);
    emb_tables = tables;
}

void emb_print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(emb_tables, format, args);
    va_end(args);
}

double emb_now()
{
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Volumes 48 .. 111: 510 voices sum to a loud mix that keeps the limiter busy
// without holding it at full scale.
int32_t emb_voicevolume(int i)
{
    return 48 + (i * 29) % 64;
}

int32_t emb_voicepan(int i)
{
    return (i * 53) % 257 - 128;
}

int32_t emb_voicestep(int i)
{
    const int32_t step = 0xC000 + (i * 1237) % 0x8000;
    return step == 0x10000 ? step + 1 : step;
}

int32_t emb_voicestart(int i, int32_t length)
{
    return static_cast<int32_t>((static_cast<int64_t>(i) * 7919) % length);
}

// Every voice ramps to the parameters of one of the next 16 voices, a
// different one each buffer.
int emb_rampvoice(int i, long buffer)
{
    return i + 1 + static_cast<int>(buffer & 15);
}

// Places on rings of radius 4 .. 60 units around the listener, moving at up
// to 6 units per second across the line of sight.
void emb_voiceplace(int i, float* position, float* velocity)
{
    const float angle = static_cast<float>(i) * 2.39996f;
    const float radius = 4.0f + static_cast<float>((i * 7) % 57);
    const float speed = 1.0f + static_cast<float>(i % 6);
    position[0] = radius * std::sin(angle);
    position[1] = static_cast<float>(i % 5) - 2.0f;
    position[2] = -radius * std::cos(angle);
    velocity[0] = speed * std::cos(angle);
    velocity[1] = 0.0f;
    velocity[2] = speed * std::sin(angle);
}
