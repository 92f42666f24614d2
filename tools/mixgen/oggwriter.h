// oggwriter.h -- encodes tones into Ogg Vorbis files; decodes them directly with vorbisfile
#ifndef TOOLS_MIXGEN_OGGWRITER_H
#define TOOLS_MIXGEN_OGGWRITER_H

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "em/em_local.h"

// Writes frames of a sine tone (hz on the left, 1.5 x hz on the right) at amplitude 0.4. 0 on success.
inline int mixgen_writeogg(const std::string& path, int channels, long rate, long frames, double hz)
{
    vorbis_info vi;
    vorbis_info_init(&vi);
    FILE* out = vorbis_encode_init_vbr(&vi, channels, rate, 0.4f) == 0 ? fopen(path.c_str(), "wb") : nullptr;
    if (!out) {
        vorbis_info_clear(&vi);
        return -1;
    }
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    ogg_stream_state os;
    vorbis_comment_init(&vc), vorbis_analysis_init(&vd, &vi), vorbis_block_init(&vd, &vb), ogg_stream_init(&os, 1234);
    ogg_packet packet[3];
    vorbis_analysis_headerout(&vd, &vc, &packet[0], &packet[1], &packet[2]);
    for (ogg_packet& p : packet)
        ogg_stream_packetin(&os, &p);
    ogg_page page;
    const auto write = [&](int (*next)(ogg_stream_state*, ogg_page*)) {
        bool eos = false;
        while (next(&os, &page)) {
            fwrite(page.header, 1, static_cast<size_t>(page.header_len), out);
            fwrite(page.body, 1, static_cast<size_t>(page.body_len), out);
            eos = eos || ogg_page_eos(&page);
        }
        return eos;
    };
    write(ogg_stream_flush);
    for (long done = 0, eos = 0; !eos;) {
        const long chunk = frames - done < 1024 ? frames - done : 1024;
        if (chunk > 0) {
            float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(chunk));
            for (long i = 0; i < chunk; i++)
                for (int c = 0; c < channels; c++)
                    buffer[c][i] =
                        static_cast<float>(0.4 * sin(2.0 * M_PI * hz * (1.0 + 0.5 * c) * static_cast<double>(done + i) / rate));
            done += chunk;
        }
        vorbis_analysis_wrote(&vd, chunk > 0 ? static_cast<int>(chunk) : 0);
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr), vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &packet[0]))
                ogg_stream_packetin(&os, &packet[0]), eos = write(ogg_stream_pageout) || eos;
        }
        if (chunk <= 0 && !eos)
            eos = (write(ogg_stream_flush), 1);
    }
    ogg_stream_clear(&os), vorbis_block_clear(&vb), vorbis_dsp_clear(&vd), vorbis_comment_clear(&vc), vorbis_info_clear(&vi);
    return fclose(out);
}

// The whole file decoded by vorbisfile as interleaved signed 16-bit values.
inline std::vector<int16_t> mixgen_decodeogg(const std::string& path, int* channels = nullptr)
{
    std::vector<int16_t> values;
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) < 0)
        return values;
    if (channels)
        *channels = ov_info(&vf, -1)->channels;
    char buffer[4096];
    int section = 0;
    long n;
    while ((n = ov_read(&vf, buffer, sizeof(buffer), 0, 2, 1, &section)) != 0)
        for (long i = 0; i + 1 < n; i += 2) // a hole in the stream (n < 0) adds nothing
            values.push_back(reinterpret_cast<const int16_t*>(buffer)[i / 2]);
    ov_clear(&vf);
    return values;
}

#endif
