// pyscene.cpp -- the scene the Python module's tests build, rendered through the
// engine's C++ interface for them to compare value for value: two voices of a
// sampler, a 3-D voice, a sequencer channel and an Ogg Vorbis stream
//   usage: pyscene <mono.wav> <stereo.wav> <music.ogg> <frames> <out.raw>
//   (writes music.ogg first, then frames frames of 16-bit stereo to out.raw)
#include <cstdlib>
#include <vector>

#include "tools/mixgen/oggwriter.h"

int main(int argc, char** argv)
{
    if (argc != 6 || mixgen_writeogg(argv[3], 2, 22050, 30000, 330.0) != 0 || em_initoffline() != 0)
        return 1;
    const int mono = em_loadsample(argv[1]), stereo = em_loadsample(argv[2]), root = em_getroot();

    const int sampler = em_createsampler(root, -1);
    const int first = em_triggersample(sampler, mono), second = em_triggersample(sampler, stereo);
    em_setparam(first, EMP_VOLUME, 200);
    em_setparam(first, EMP_PAN, -40);
    em_setparam(second, EMP_PITCH, 0x18000);

    const int space = em_createsampler3d(root, -1);
    const int moving = em_triggersample3d(space, mono);
    em_setparam3f(moving, EMP_POSITION3DB, 3.0f, 0.0f, 4.0f);
    em_setparam3f(moving, EMP_VELOCITY3DB, -30.0f, 0.0f, 0.0f);
    em_setparam(moving, EMP_FLAGS, em_getparam(moving, EMP_FLAGS) | EMF_MOVING | EMF_LOOP);

    const int seq = em_createsequencer(root, 1, 4);
    em_setparam(seq, EMP_CHANNEL, 0);
    const int channel = em_getparam(seq, EMP_CHANNELNODE);
    const int8_t notes[4] = {69, 0, 81, 0};
    em_setparam(channel, EMP_SAMPLE, stereo);
    em_setparamp(channel, EMP_PATTERN, notes);
    em_setparam(seq, EMP_LENGTH, 22050);
    em_setparam(seq, EMP_RUN, 1);

    const int music = em_createoggmusic(root);
    em_setparam(music, EMP_VOLUME, 100);
    if (!mono || !stereo || !first || !second || !moving || channel <= 0 || em_playoggmusic(music, argv[3]) != 0)
        return 1;

    const int32_t frames = atoi(argv[4]);
    std::vector<int16_t> out(2 * static_cast<size_t>(frames));
    em_render(out.data(), frames);
    em_deinit();
    FILE* file = fopen(argv[5], "wb");
    return file && fwrite(out.data(), 2, out.size(), file) == out.size() && fclose(file) == 0 ? 0 : 1;
}
