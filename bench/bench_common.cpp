// bench_common.cpp -- the clock and the voice parameters that the engine's
// voices and the peer's sources share
#include <chrono>
#include <cmath>

#include "bench/bench.h"

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
