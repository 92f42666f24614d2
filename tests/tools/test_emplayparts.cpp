// test_emplayparts.cpp -- emplay's engine-free parts: the sequence reader on tables of refused and accepted texts,
// and the progress line on a made-up clock
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "tools/emplay/emplay_progress.h"
#include "tools/emplay/emplay_seq.h"

namespace {

bool seqtest_parse(const std::string& text, emplay_sequence* seq, emplay_seqerror* error)
{
    return emplay_parsesequence(text.data(), text.size(), "dir/", seq, error);
}

TEST(EmplaySeq, RefusedTextsNameTheLineAndTheReason)
{
    const std::string head = "duration 100\nsteps 2\n";
    const std::string badnote = "a note is ., 0..255 or a name such as A4, C#5, Eb3 (C0 .. G9), not ";
    std::string ninechannels = head;
    for (int i = 0; i < 9; i++)
        ninechannels += "channel a.wav 256 0 0 A4 .\n";
    const struct {
        const char* what;
        std::string text;
        int32_t line; // 0: the text as a whole
        std::string reason;
    } rows[] = {
        {"no steps", "duration 5\n# steps 2\n", 0, "duration and steps are both needed"},
        {"no duration", "steps 2\n", 0, "duration and steps are both needed"},
        {"duration 0", "duration 0\n", 1, "duration must be 1..2147483647 output frames"},
        {"duration past 31 bits", "\nduration 2147483648\n", 2, "duration must be 1..2147483647 output frames"},
        {"duration with letters after it", "duration 12x\n", 1, "duration must be 1..2147483647 output frames"},
        {"duration without a value", "duration\n", 1, "duration must be 1..2147483647 output frames"},
        {"two durations on a line", "duration 1 2\n", 1, "unexpected text after the value"},
        {"steps 0", "steps 0\n", 1, "steps must be 1..4096"},
        {"steps 4097", "steps 4097\n", 1, "steps must be 1..4096"},
        {"steps after a channel", head + "channel a.wav 256 0 0 A4 .\nsteps 2\n", 4, "steps must come before the channels"},
        {"a channel before steps", "channel a.wav 256 0 0 A4\n", 1, "steps must come before the channels"},
        {"an unknown keyword", "duration 5\ntempo 120\n", 2, "unknown keyword tempo (duration, steps, channel)"},
        {"a channel line without notes", head + "channel a.wav 256 0\n", 3,
         "a channel line gives a WAV file, volume, pan, loop and the notes"},
        {"volume 65537", head + "channel a.wav 65537 0 0 A4 .\n", 3, "volume must be a whole number 0..65536 (256 = unity)"},
        {"pan 129", head + "channel a.wav 256 129 0 A4 .\n", 3, "pan must be a whole number -128..128"},
        {"loop 2", head + "channel a.wav 256 0 2 A4 .\n", 3, "loop must be 0 or 1"},
        {"one note short", head + "channel a.wav 256 0 0 A4\n", 3, "a channel needs one note per step: 1 notes for 2 steps"},
        {"one note over", head + "channel a.wav 256 0 0 A4 . .\n", 3, "a channel needs one note per step: 3 notes for 2 steps"},
        {"note letter H", head + "channel a.wav 256 0 0 H4 .\n", 3, badnote + "H4"},
        {"note above G9", head + "channel a.wav 256 0 0 A9 .\n", 3, badnote + "A9"},
        {"note below C0", head + "channel a.wav 256 0 0 Cb0 .\n", 3, badnote + "Cb0"},
        {"octave 10", head + "channel a.wav 256 0 0 A10 .\n", 3, badnote + "A10"},
        {"lower-case name", head + "channel a.wav 256 0 0 a4 .\n", 3, badnote + "a4"},
        {"byte 256", head + "channel a.wav 256 0 0 256 .\n", 3, badnote + "256"},
        {"a '#' inside a word starts no comment", head + "channel a.wav 256 0 0 A4 .#x\n", 3, badnote + ".#x"},
        {"nine channels", ninechannels, 11, "more than 8 channels"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        emplay_sequence seq;
        emplay_seqerror error;
        ASSERT_FALSE(seqtest_parse(row.text, &seq, &error));
        EXPECT_EQ(error.line, row.line);
        EXPECT_EQ(error.reason, row.reason);
    }
}

// Notes by name and number; comments, blank lines, tabs, CR LF line ends and absolute and relative names (the
// largest sequence, lines far longer than any fixed buffer, is emplay's steps4096.seq render).
TEST(EmplaySeq, AcceptedTexts)
{
    const auto parse = [](const std::string& text) {
        emplay_sequence seq;
        emplay_seqerror error;
        EXPECT_TRUE(seqtest_parse(text, &seq, &error)) << error.line << ": " << error.reason;
        return seq;
    };
    const emplay_sequence notes = parse("duration 1\nsteps 12\nchannel a.wav 1 2 0 A4 C#5 Eb3 C0 G9 B#8 . 0 11 255 12 127\n");
    ASSERT_EQ(notes.channels.size(), 1u);
    EXPECT_EQ(notes.channels[0].notes, std::vector<int8_t>({69, 73, 51, 12, 127, 120, 0, 0, 11, -1, 12, 127}));

    const emplay_sequence layout = parse("# a sequence\r\n\r\nduration\t2147483647 # the longest\r\nsteps 1\n"
                                         "  channel  /abs/x.wav 0 -128 1 A4 # end\r\n"
                                         "channel sub/y.wav\t65536\t128\t0\t.\n");
    EXPECT_EQ(layout.duration, 2147483647);
    EXPECT_EQ(layout.steps, 1);
    ASSERT_EQ(layout.channels.size(), 2u);
    const emplay_seqchannel &a = layout.channels[0], &b = layout.channels[1];
    using channel = std::tuple<std::string, int32_t, int32_t, int32_t, bool>;
    EXPECT_EQ(channel(a.file, a.line, a.volume, a.pan, a.loop), channel("/abs/x.wav", 5, 0, -128, true));
    EXPECT_EQ(channel(b.file, b.line, b.volume, b.pan, b.loop), channel("dir/sub/y.wav", 6, 65536, 128, false));
}

TEST(EmplaySeq, FilesThatCannotBeRead)
{
    emplay_sequence seq;
    emplay_seqerror error;
    // /dev/zero is endless: refused by its size.
    for (const auto& [path, reason] : std::vector<std::pair<const char*, std::string>> {
             {"/nonexistent/a.seq", "No such file or directory"}, {"/", "Is a directory"}, {"/dev/zero", "larger than 16 MiB"}}) {
        EXPECT_FALSE(emplay_readsequence(path, &seq, &error));
        EXPECT_EQ(error.line, 0);
        EXPECT_EQ(error.reason, reason);
    }
}

// Feeds a progress line the updates (frames done, clock in ms); what it wrote.
std::string progresstest(const char* name, int64_t total, int64_t startms,
                         const std::vector<std::pair<int64_t, int64_t>>& updates)
{
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    emplay_progress p;
    emplay_progressbegin(&p, out, name, total, 44100, startms);
    for (const auto& [frames, ms] : updates)
        emplay_progressupdate(&p, frames, ms);
    emplay_progressend(&p, total);
    fclose(out);
    const std::string written(text, size);
    free(text);
    return written;
}

TEST(EmplayProgress, DrawnAfterTwoSecondsThenFourTimesASecond)
{
    // Not yet two seconds; drawn; drawn a moment ago; drawn.
    EXPECT_EQ(progresstest("out.wav", 441000, 1000, {{44100, 2999}, {88200, 3000}, {100000, 3249}, {132300, 3250}}),
              "\remplay: out.wav: 2.0 of 10.0 s rendered (20%)"
              "\remplay: out.wav: 3.0 of 10.0 s rendered (30%)"
              "\remplay: out.wav: 10.0 of 10.0 s rendered (100%)\n");
}

TEST(EmplayProgress, QuickRendersAndOtherStreamsShowNothing)
{
    EXPECT_EQ(progresstest("quick.wav", 44100, 0, {{44100, 1999}}), "");
    emplay_progress p;
    emplay_progressbegin(&p, nullptr, "piped.wav", 44100, 44100, 0); // standard error is no terminal
    emplay_progressupdate(&p, 22050, 5000);
    emplay_progressend(&p, 44100);
    EXPECT_LT(p.drawnms, 0);
}

} // namespace
