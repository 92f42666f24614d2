// emplay_seq.h -- emplay's step-sequence files: the record a file describes,
// the reader that fills it, and the whole-number parser it shares with the
// command line; no engine calls, so that a fuzz target can link it alone
#ifndef TOOLS_EMPLAY_EMPLAY_SEQ_H
#define TOOLS_EMPLAY_EMPLAY_SEQ_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum {
    EMPLAY_MAXSTEPS = 4096,       // steps per pass
    EMPLAY_MAXVOLUME = 65536,     // 256 x unity: a full-scale value times this still fits 32 bits
    EMPLAY_MAXPAN = 128,          // pans run -128 (left) .. 128 (right)
    EMPLAY_MAXSEQBYTES = 16 << 20 // a larger sequence file is refused before it is parsed
};

struct emplay_seqchannel {
    std::string file;          // the WAV file; a relative name is taken from the sequence file's folder
    int32_t line = 0;          // the line that named it, for messages about the file
    int32_t volume = 256;      // 0..EMPLAY_MAXVOLUME, 256 = unity
    int32_t pan = 0;           // -128..128
    bool loop = false;         // the sample loops until the next note restarts it
    std::vector<int8_t> notes; // one byte per step: 12..127 a note, anything else none
};

struct emplay_sequence {
    int32_t duration = 0;                    // output frames per pass, 1 or more
    int32_t steps = 0;                       // 1..EMPLAY_MAXSTEPS
    std::vector<emplay_seqchannel> channels; // at most EM_SEQCHANNELS
};

// Where and why a sequence was refused: line 0 means the file as a whole.
struct emplay_seqerror {
    int32_t line = 0;
    std::string reason;
};

// A whole decimal number in low..high making up all of text; false for an empty
// text, other characters, or a value out of range.
bool emplay_parseint(const char* text, long low, long high, int32_t* value);

// Reads a sequence from size bytes of text; relative WAV names get folder put in
// front. false with the line and the reason when the text is refused.
bool emplay_parsesequence(const char* text, size_t size, const std::string& folder, emplay_sequence* seq, emplay_seqerror* error);

// Reads a sequence file (at most EMPLAY_MAXSEQBYTES); false with the line and the
// reason (errno's text when the file cannot be read) when it is refused.
bool emplay_readsequence(const char* path, emplay_sequence* seq, emplay_seqerror* error);

// Text from a file made fit to show on a terminal: printable ASCII as it is, a
// backslash doubled, every other byte as \xNN.
std::string emplay_escape(const std::string& text);

#endif
