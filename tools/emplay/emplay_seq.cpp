// emplay_seq.cpp -- reads emplay's step-sequence files: the keywords, the
// channel lines and the note names, into the record that emplay plays
#include "emplay_seq.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "em/em.h"

bool emplay_parseint(const char* text, long low, long high, int32_t* value)
{
    // strtol would skip leading blanks; a number here starts at once.
    if (!text || !((*text >= '0' && *text <= '9') || *text == '-' || *text == '+'))
        return false;
    errno = 0;
    char* end;
    const long v = strtol(text, &end, 10);
    if (end == text || *end != 0 || errno == ERANGE || v < low || v > high)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// A note word: "." none, a byte 0..255, or a name such as A4, C#5, Eb3 (A4 =
// 69, the sample's own pitch; C0 = 12 .. G9 = 127); -1 when it is none of these.
static int emplay_note(const std::string& word)
{
    if (word == ".")
        return 0;
    int32_t value;
    if (word[0] >= '0' && word[0] <= '9')
        return emplay_parseint(word.c_str(), 0, 255, &value) ? value : -1;
    static const int semitones[] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    if (word[0] < 'A' || word[0] > 'G')
        return -1;
    int note = semitones[word[0] - 'A'];
    size_t at = 1;
    if (word[at] == '#')
        note++, at++;
    else if (word[at] == 'b')
        note--, at++;
    // One octave digit ends the name.
    if (at + 1 != word.size() || word[at] < '0' || word[at] > '9')
        return -1;
    note += 12 * (word[at] - '0' + 1);
    return note >= 12 && note <= 127 ? note : -1;
}

static bool emplay_isblank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\0';
}

// The words of one line, up to a '#' that begins a word (a sharp inside a note
// name stays).
static std::vector<std::string> emplay_words(const char* line, size_t length)
{
    std::vector<std::string> words;
    size_t i = 0;
    for (;;) {
        while (i < length && emplay_isblank(line[i]))
            i++;
        if (i == length || line[i] == '#')
            return words;
        const size_t start = i;
        while (i < length && !emplay_isblank(line[i]))
            i++;
        words.emplace_back(line + start, i - start);
    }
}

std::string emplay_escape(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '\\')
            shown += "\\\\";
        else if (byte >= 0x20 && byte < 0x7f)
            shown += c;
        else
            shown += std::string("\\x") + hex[byte >> 4] + hex[byte & 15];
    }
    return shown;
}

// Reads a channel line's words after the keyword into ch; an empty text, or
// why the line is refused.
static std::string emplay_parsechannel(const std::vector<std::string>& words, const std::string& folder,
                                       const emplay_sequence& seq, emplay_seqchannel* ch)
{
    if (seq.steps == 0)
        return "steps must come before the channels";
    if (seq.channels.size() >= EM_SEQCHANNELS)
        return "more than " + std::to_string(EM_SEQCHANNELS) + " channels";
    if (words.size() < 5)
        return "a channel line gives a WAV file, volume, pan, loop and the notes";
    ch->file = words[1][0] == '/' ? words[1] : folder + words[1];
    int32_t loop = 0;
    if (!emplay_parseint(words[2].c_str(), 0, EMPLAY_MAXVOLUME, &ch->volume))
        return "volume must be a whole number 0.." + std::to_string(EMPLAY_MAXVOLUME) + " (256 = unity)";
    if (!emplay_parseint(words[3].c_str(), -EMPLAY_MAXPAN, EMPLAY_MAXPAN, &ch->pan))
        return "pan must be a whole number -" + std::to_string(EMPLAY_MAXPAN) + ".." + std::to_string(EMPLAY_MAXPAN);
    if (!emplay_parseint(words[4].c_str(), 0, 1, &loop))
        return "loop must be 0 or 1";
    ch->loop = loop != 0;
    for (size_t i = 5; i < words.size(); i++) {
        const int note = emplay_note(words[i]);
        if (note < 0)
            return "a note is ., 0..255 or a name such as A4, C#5, Eb3 (C0 .. G9), not " + emplay_escape(words[i]);
        ch->notes.push_back(static_cast<int8_t>(static_cast<uint8_t>(note)));
    }
    if (ch->notes.size() != static_cast<size_t>(seq.steps))
        return "a channel needs one note per step: " + std::to_string(ch->notes.size()) + " notes for " +
               std::to_string(seq.steps) + " steps";
    return "";
}

// Reads one line's words into seq; an empty text, or why the line is refused.
static std::string emplay_parseline(const std::vector<std::string>& words, const std::string& folder, int32_t line,
                                    emplay_sequence* seq)
{
    const std::string& key = words[0];
    if (key == "channel") {
        emplay_seqchannel ch;
        ch.line = line;
        const std::string reason = emplay_parsechannel(words, folder, *seq, &ch);
        if (reason.empty())
            seq->channels.push_back(ch);
        return reason;
    }
    std::string reason;
    if (key == "duration") {
        if (words.size() < 2 || !emplay_parseint(words[1].c_str(), 1, INT32_MAX, &seq->duration))
            reason = "duration must be 1.." + std::to_string(INT32_MAX) + " output frames";
    } else if (key == "steps") {
        if (!seq->channels.empty())
            reason = "steps must come before the channels";
        else if (words.size() < 2 || !emplay_parseint(words[1].c_str(), 1, EMPLAY_MAXSTEPS, &seq->steps))
            reason = "steps must be 1.." + std::to_string(EMPLAY_MAXSTEPS);
    } else {
        return "unknown keyword " + emplay_escape(key) + " (duration, steps, channel)";
    }
    if (reason.empty() && words.size() > 2)
        reason = "unexpected text after the value";
    return reason;
}

static bool emplay_seqfail(emplay_seqerror* error, int32_t line, const std::string& reason)
{
    error->line = line;
    error->reason = reason;
    return false;
}

bool emplay_parsesequence(const char* text, size_t size, const std::string& folder, emplay_sequence* seq, emplay_seqerror* error)
{
    *seq = emplay_sequence();
    int32_t line = 0;
    for (size_t at = 0; at < size;) {
        const void* newline = memchr(text + at, '\n', size - at);
        const size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - text) : size;
        line++;
        const std::vector<std::string> words = emplay_words(text + at, end - at);
        at = end + 1;
        if (words.empty())
            continue;
        const std::string reason = emplay_parseline(words, folder, line, seq);
        if (!reason.empty())
            return emplay_seqfail(error, line, reason);
    }
    if (seq->duration == 0 || seq->steps == 0)
        return emplay_seqfail(error, 0, "duration and steps are both needed");
    return true;
}

bool emplay_readsequence(const char* path, emplay_sequence* seq, emplay_seqerror* error)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return emplay_seqfail(error, 0, strerror(errno));
    std::string text;
    char chunk[65536];
    for (size_t n; text.size() <= EMPLAY_MAXSEQBYTES && (n = fread(chunk, 1, sizeof(chunk), file)) > 0;)
        text.append(chunk, n);
    const int why = errno;
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed)
        return emplay_seqfail(error, 0, strerror(why));
    if (text.size() > EMPLAY_MAXSEQBYTES)
        return emplay_seqfail(error, 0, "larger than " + std::to_string(EMPLAY_MAXSEQBYTES >> 20) + " MiB");
    const char* slash = strrchr(path, '/');
    const std::string folder = slash ? std::string(path, static_cast<size_t>(slash - path + 1)) : "";
    return emplay_parsesequence(text.data(), text.size(), folder, seq, error);
}
