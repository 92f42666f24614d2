// bench_openal.cpp -- the peer renderer: OpenAL Soft's loopback device mixing
// the same voices into the same 44100 Hz signed 16-bit stereo buffers
#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <AL/efx.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "bench/bench.h"

namespace {

// A resampler the sources may be given by name.
struct emb_alresampling {
    ALint index = -1; // in the device's list, -1 the default
    std::string name = "default";
};

struct emb_alstate {
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    emb_alresampling nearest; // for the kinds that read the nearest frame
    emb_alresampling linear;  // for the interpolating kinds
    bool deferred = false;    // AL_SOFT_deferred_updates: a buffer's changes applied together
    ALuint buffer = 0;
    ALuint effect = 0; // the reverb of an auxiliary effect slot, 0 none
    ALuint slot = 0;
    ALuint filter = 0; // the sources' direct low-pass filter, 0 none
    std::vector<ALuint> sources;
    std::vector<float> positions; // 3 per source while moving
    std::vector<float> velocities;
    bool moving = false;
    bool ramped = false;
    long buffers = 0; // rendered since the sources started
    std::string configtext;
};
emb_alstate emal;

bool emb_hasword(const char* text, const char* word)
{
    std::string t = text ? text : "";
    for (char& c : t)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return t.find(word) != std::string::npos;
}

// The first resampler whose name holds one of the words (lower case).
emb_alresampling emb_alfindresampler(const char* word, const char* other)
{
    emb_alresampling found;
    if (!alIsExtensionPresent("AL_SOFT_source_resampler"))
        return found;
    const ALint count = alGetInteger(AL_NUM_RESAMPLERS_SOFT);
    for (ALint i = 0; i < count; i++) {
        const ALchar* name = alGetStringiSOFT(AL_RESAMPLER_NAME_SOFT, i);
        if (emb_hasword(name, word) || (other && emb_hasword(name, other))) {
            found.index = i;
            found.name = name;
            break;
        }
    }
    return found;
}

// Gives a source the gain, pitch and pan (a direction in front of the
// listener) of voice i.
void emb_alsetvoice(ALuint source, int i, bool stepped)
{
    const float x = static_cast<float>(emb_voicepan(i)) / 128.0f;
    alSourcef(source, AL_GAIN, static_cast<float>(emb_voicevolume(i)) / 256.0f);
    alSourcef(source, AL_PITCH, stepped ? static_cast<float>(emb_voicestep(i)) / 65536.0f : 1.0f);
    alSource3f(source, AL_POSITION, x, 0.0f, -std::sqrt(1.0f - x * x));
}

// Sets the sources' parameters that change every buffer: the places of
// moving sources, or the gain, pitch and direction of ramped ones.
void emb_alupdate(int frames)
{
    if (emal.moving) {
        const float seconds = static_cast<float>(frames) / 44100.0f;
        for (size_t i = 0; i < emal.sources.size(); i++) {
            float* p = &emal.positions[3 * i];
            const float* v = &emal.velocities[3 * i];
            for (int k = 0; k < 3; k++)
                p[k] += seconds * v[k];
            alSourcefv(emal.sources[i], AL_POSITION, p);
        }
    }
    if (emal.ramped) {
        for (size_t i = 0; i < emal.sources.size(); i++) {
            const int j = emb_rampvoice(static_cast<int>(i), emal.buffers);
            emb_alsetvoice(emal.sources[i], j, true);
        }
    }
}

// Points the library at a configuration file that turns dither off (and the
// limiter, which the context's attribute turns off too), before its first
// call reads the configuration; the file goes once the library has read it.
std::string emb_alfairconfig()
{
    char path[] = "/tmp/quorrelalsoft.XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return "";
    const char text[] = "[general]\ndither = false\noutput-limiter = false\n";
    const bool written = write(fd, text, sizeof(text) - 1) == static_cast<ssize_t>(sizeof(text) - 1);
    close(fd);
    if (!written || setenv("ALSOFT_CONF", path, 1) != 0) {
        unlink(path);
        return "";
    }
    return path;
}

// The limiter as the device reports it, and whether a silence rendered with
// no source playing comes out as zeros (dither makes some of them +-1).
std::string emb_alreadconfig()
{
    ALCint limiter = -1;
    alcGetIntegerv(emal.device, ALC_OUTPUT_LIMITER_SOFT, 1, &limiter);
    std::vector<int16_t> silence(2 * 4096);
    alcRenderSamplesSOFT(emal.device, silence.data(), 4096);
    int nonzero = 0;
    for (const int16_t v : silence)
        nonzero += v != 0;
    char text[160];
    snprintf(text, sizeof(text), "output limiter %s, dither %s (%d of %d values of a silence not zero)",
             limiter == ALC_TRUE    ? "on"
             : limiter == ALC_FALSE ? "off"
                                    : "unknown",
             nonzero ? "on" : "off", nonzero, static_cast<int>(silence.size()));
    return text;
}

} // namespace

const char* emb_peerconfigname(emb_peerconfig config)
{
    return config == EMB_PEERFAIR ? "fair" : "default";
}

const char* emb_alconfigtext()
{
    return emal.configtext.c_str();
}

int emb_alopen(int maxsources, emb_peerconfig config)
{
    const std::string conf = config == EMB_PEERFAIR ? emb_alfairconfig() : "";
    if (alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback"))
        emal.device = alcLoopbackOpenDeviceSOFT(nullptr); // reads the configuration
    if (!conf.empty())
        unlink(conf.c_str());
    if (!emal.device)
        return -1;
    const ALCint limiter = config == EMB_PEERFAIR ? ALC_FALSE : ALC_DONT_CARE_SOFT;
    const ALCint attrs[] = {ALC_OUTPUT_LIMITER_SOFT,
                            limiter,
                            ALC_FORMAT_CHANNELS_SOFT,
                            ALC_STEREO_SOFT,
                            ALC_FORMAT_TYPE_SOFT,
                            ALC_SHORT_SOFT,
                            ALC_FREQUENCY,
                            44100,
                            ALC_MONO_SOURCES,
                            maxsources,
                            ALC_STEREO_SOURCES,
                            maxsources,
                            ALC_HRTF_SOFT,
                            ALC_FALSE,
                            0};
    if (!alcIsRenderFormatSupportedSOFT(emal.device, 44100, ALC_STEREO_SOFT, ALC_SHORT_SOFT)) {
        emb_alclose();
        return -1;
    }
    emal.context = alcCreateContext(emal.device, attrs);
    if (!emal.context || !alcMakeContextCurrent(emal.context)) {
        emb_alclose();
        return -1;
    }
    emal.nearest = emb_alfindresampler("nearest", "point");
    emal.linear = emb_alfindresampler("linear", nullptr);
    emal.deferred = alIsExtensionPresent("AL_SOFT_deferred_updates");
    emal.configtext = emb_alreadconfig();
    return 0;
}

void emb_alclose()
{
    emb_alstop();
    alcMakeContextCurrent(nullptr);
    if (emal.context)
        alcDestroyContext(emal.context);
    if (emal.device)
        alcCloseDevice(emal.device);
    emal.context = nullptr;
    emal.device = nullptr;
}

const char* emb_alresampler(bool interp)
{
    return interp ? emal.linear.name.c_str() : emal.nearest.name.c_str();
}

int emb_alstart(emb_kind kind, int voices, const std::vector<int16_t>& mono, const std::vector<int16_t>& stereo)
{
    emb_alstop();
    const emb_kindinfo& k = emb_kinds[kind];
    const std::vector<int16_t>& data = k.stereo ? stereo : mono;
    alGenBuffers(1, &emal.buffer);
    alBufferData(emal.buffer, k.stereo ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16, data.data(),
                 static_cast<ALsizei>(data.size() * sizeof(int16_t)), 44100);
    const ALsizei frames = static_cast<ALsizei>(k.stereo ? data.size() / 2 : data.size());
    const emb_alresampling& resampler = k.interp ? emal.linear : emal.nearest;
    emal.moving = k.placed;
    emal.ramped = k.ramped;
    emal.buffers = 0;
    if (emal.moving) {
        // Gain falls linearly to 0 at 256 units, as the engine's voices do.
        alDistanceModel(AL_LINEAR_DISTANCE_CLAMPED);
        alSpeedOfSound(340.0f);
        alDopplerFactor(1.0f);
    } else {
        alDistanceModel(AL_NONE);
    }
    alListener3f(AL_POSITION, 0.0f, 0.0f, 0.0f);
    alListener3f(AL_VELOCITY, 0.0f, 0.0f, 0.0f);
    for (int i = 0; i < voices; i++) {
        ALuint source = 0;
        alGetError();
        alGenSources(1, &source);
        if (alGetError() != AL_NO_ERROR)
            break;
        emal.sources.push_back(source);
        alSourcei(source, AL_BUFFER, static_cast<ALint>(emal.buffer));
        alSourcei(source, AL_LOOPING, AL_TRUE);
        if (resampler.index >= 0)
            alSourcei(source, AL_SOURCE_RESAMPLER_SOFT, resampler.index);
        if (emal.moving) {
            float p[3], v[3];
            emb_voiceplace(i, p, v);
            alSourcef(source, AL_GAIN, static_cast<float>(emb_voicevolume(i)) / 256.0f);
            alSourcei(source, AL_SOURCE_RELATIVE, AL_FALSE);
            alSourcef(source, AL_REFERENCE_DISTANCE, 0.0f);
            alSourcef(source, AL_MAX_DISTANCE, 256.0f);
            alSourcef(source, AL_ROLLOFF_FACTOR, 1.0f);
            alSourcefv(source, AL_POSITION, p);
            alSourcefv(source, AL_VELOCITY, v);
            emal.positions.insert(emal.positions.end(), p, p + 3);
            emal.velocities.insert(emal.velocities.end(), v, v + 3);
        } else {
            alSourcei(source, AL_SOURCE_RELATIVE, AL_TRUE);
            emb_alsetvoice(source, i, k.stepped);
        }
        alSourcei(source, AL_SAMPLE_OFFSET, emb_voicestart(i, frames));
        alSourcePlay(source);
    }
    return static_cast<int>(emal.sources.size());
}

void emb_alrender(int16_t* out, int frames)
{
    if (emal.moving || emal.ramped) {
        if (emal.deferred)
            alDeferUpdatesSOFT();
        emb_alupdate(frames);
        if (emal.deferred)
            alProcessUpdatesSOFT();
    }
    alcRenderSamplesSOFT(emal.device, out, frames);
    emal.buffers++;
}

void emb_alreplace()
{
    for (size_t i = 0; i < emal.sources.size() && emal.moving; i++) {
        float v[3];
        emb_voiceplace(static_cast<int>(i), &emal.positions[3 * i], v);
        alSourcefv(emal.sources[i], AL_POSITION, &emal.positions[3 * i]);
    }
}

int emb_alstartreverb(int voices, const std::vector<int16_t>& mono)
{
    const int made = emb_alstart(EMB_MONO, voices, mono, mono);
    if (!alcIsExtensionPresent(emal.device, "ALC_EXT_EFX"))
        return 0;
    alGetError();
    alGenEffects(1, &emal.effect);
    alEffecti(emal.effect, AL_EFFECT_TYPE, AL_EFFECT_REVERB);
    alGenAuxiliaryEffectSlots(1, &emal.slot);
    alAuxiliaryEffectSloti(emal.slot, AL_EFFECTSLOT_EFFECT, static_cast<ALint>(emal.effect));
    for (const ALuint source : emal.sources)
        alSource3i(source, AL_AUXILIARY_SEND_FILTER, static_cast<ALint>(emal.slot), 0, AL_FILTER_NULL);
    return alGetError() == AL_NO_ERROR ? made : 0;
}

int emb_alstartlowpass(int voices, const std::vector<int16_t>& mono, float gainhf)
{
    const int made = emb_alstart(EMB_MONO, voices, mono, mono);
    if (!alcIsExtensionPresent(emal.device, "ALC_EXT_EFX"))
        return 0;
    alGetError();
    alGenFilters(1, &emal.filter);
    alFilteri(emal.filter, AL_FILTER_TYPE, AL_FILTER_LOWPASS);
    alFilterf(emal.filter, AL_LOWPASS_GAIN, 1.0f);
    alFilterf(emal.filter, AL_LOWPASS_GAINHF, gainhf);
    for (const ALuint source : emal.sources)
        alSourcei(source, AL_DIRECT_FILTER, static_cast<ALint>(emal.filter));
    return alGetError() == AL_NO_ERROR ? made : 0;
}

void emb_alstop()
{
    if (!emal.sources.empty()) {
        alSourceStopv(static_cast<ALsizei>(emal.sources.size()), emal.sources.data());
        alDeleteSources(static_cast<ALsizei>(emal.sources.size()), emal.sources.data());
    }
    if (emal.slot)
        alDeleteAuxiliaryEffectSlots(1, &emal.slot);
    if (emal.effect)
        alDeleteEffects(1, &emal.effect);
    if (emal.filter)
        alDeleteFilters(1, &emal.filter);
    emal.slot = emal.effect = emal.filter = 0;
    if (emal.buffer)
        alDeleteBuffers(1, &emal.buffer);
    emal.sources.clear();
    emal.positions.clear();
    emal.velocities.clear();
    emal.buffer = 0;
}
