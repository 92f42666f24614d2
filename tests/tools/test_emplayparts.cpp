// test_emplayparts.cpp -- emplay's engine-free parts: the sequence reader on
// tables of refused and accepted texts, and the progress line on a made-up clock
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/emplay/emplay_progress.h"
#include "tools/emplay/emplay_seq.h"

namespace {

bool seqtest_parse(const std::string& text, emplay_sequence* seq, emplay_seqerror* error)
{
    return emplay_parsesequence(text.data(), text.size(), "dir/", seq, error);
}

std::string seqtest_repeat(const std::string& word, int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += " " + word;
    return text;
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
        {"empty", "", 0, "duration and steps are both needed"},
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
        {"a negative volume", head + "channel a.wav -1 0 0 A4 .\n", 3, "volume must be a whole number 0..65536 (256 = unity)"},
        {"pan 129", head + "channel a.wav 256 129 0 A4 .\n", 3, "pan must be a whole number -128..128"},
        {"pan 1.5", head + "channel a.wav 256 1.5 0 A4 .\n", 3, "pan must be a whole number -128..128"},
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

TEST(EmplaySeq, NotesByNameAndNumber)
{
    emplay_sequence seq;
    emplay_seqerror error;
    ASSERT_TRUE(seqtest_parse("duration 1\nsteps 12\nchannel a.wav 1 2 0 A4 C#5 Eb3 C0 G9 B#8 . 0 11 255 12 127\n", &seq, &error))
        << error.reason;
    ASSERT_EQ(seq.channels.size(), 1u);
    const std::vector<int8_t> want = {69, 73, 51, 12, 127, 120, 0, 0, 11, -1, 12, 127};
    EXPECT_EQ(seq.channels[0].notes, want);
}

// Comments, blank lines, tabs and CR LF line ends; absolute and relative names.
TEST(EmplaySeq, LayoutAndFileNames)
{
    emplay_sequence seq;
    emplay_seqerror error;
    const std::string text = "# a sequence\r\n\r\nduration\t2147483647 # the longest\r\nsteps 1\n"
                             "  channel  /abs/x.wav 0 -128 1 A4 # end\r\n"
                             "channel sub/y.wav\t65536\t128\t0\t.\n";
    ASSERT_TRUE(seqtest_parse(text, &seq, &error)) << error.line << ": " << error.reason;
    EXPECT_EQ(seq.duration, 2147483647);
    EXPECT_EQ(seq.steps, 1);
    ASSERT_EQ(seq.channels.size(), 2u);
    const emplay_seqchannel& a = seq.channels[0];
    const emplay_seqchannel& b = seq.channels[1];
    EXPECT_EQ(a.file, "/abs/x.wav");
    EXPECT_EQ(a.line, 5);
    EXPECT_EQ(a.volume, 0);
    EXPECT_EQ(a.pan, -128);
    EXPECT_TRUE(a.loop);
    EXPECT_EQ(b.file, "dir/sub/y.wav");
    EXPECT_EQ(b.line, 6);
    EXPECT_EQ(b.volume, 65536);
    EXPECT_EQ(b.pan, 128);
    EXPECT_FALSE(b.loop);
}

// 4096 steps on eight channels: lines far longer than any fixed buffer.
TEST(EmplaySeq, TheLargestSequence)
{
    std::string text = "duration 441000\nsteps 4096\n";
    for (int i = 0; i < 8; i++)
        text += "channel a.wav 256 0 0" + seqtest_repeat("C#5", 4096) + "\n";
    emplay_sequence seq;
    emplay_seqerror error;
    ASSERT_TRUE(seqtest_parse(text, &seq, &error)) << error.line << ": " << error.reason;
    ASSERT_EQ(seq.channels.size(), 8u);
    EXPECT_EQ(seq.channels[7].notes, std::vector<int8_t>(4096, 73));
}

TEST(EmplaySeq, FilesThatCannotBeRead)
{
    emplay_sequence seq;
    emplay_seqerror error;
    EXPECT_FALSE(emplay_readsequence("/nonexistent/a.seq", &seq, &error));
    EXPECT_EQ(error.line, 0);
    EXPECT_EQ(error.reason, "No such file or directory");
    EXPECT_FALSE(emplay_readsequence("/", &seq, &error));
    EXPECT_EQ(error.reason, "Is a directory");
    EXPECT_FALSE(emplay_readsequence("/dev/zero", &seq, &error)); // endless: refused by its size
    EXPECT_EQ(error.reason, "larger than 16 MiB");
}

// What a progress line wrote, the file closed.
std::string progresstest_take(FILE* out)
{
    std::string text;
    rewind(out);
    for (int c; (c = fgetc(out)) != EOF;)
        text += static_cast<char>(c);
    fclose(out);
    return text;
}

TEST(EmplayProgress, DrawnAfterTwoSecondsThenFourTimesASecond)
{
    FILE* out = tmpfile();
    ASSERT_NE(out, nullptr);
    emplay_progress p;
    emplay_progressbegin(&p, out, "out.wav", 441000, 44100, 1000);
    emplay_progressupdate(&p, 44100, 2999);  // not yet two seconds
    emplay_progressupdate(&p, 88200, 3000);  // drawn
    emplay_progressupdate(&p, 100000, 3249); // drawn a moment ago
    emplay_progressupdate(&p, 132300, 3250); // drawn
    emplay_progressend(&p, 441000);
    EXPECT_EQ(progresstest_take(out), "\remplay: out.wav: 2.0 of 10.0 s rendered (20%)"
                                      "\remplay: out.wav: 3.0 of 10.0 s rendered (30%)"
                                      "\remplay: out.wav: 10.0 of 10.0 s rendered (100%)\n");
}

TEST(EmplayProgress, QuickRendersAndOtherStreamsShowNothing)
{
    FILE* out = tmpfile();
    ASSERT_NE(out, nullptr);
    emplay_progress p;
    emplay_progressbegin(&p, out, "quick.wav", 44100, 44100, 0);
    emplay_progressupdate(&p, 44100, 1999);
    emplay_progressend(&p, 44100);
    EXPECT_EQ(progresstest_take(out), "");
    emplay_progressbegin(&p, nullptr, "piped.wav", 44100, 44100, 0); // standard error is no terminal
    emplay_progressupdate(&p, 22050, 5000);
    emplay_progressend(&p, 44100);
    EXPECT_LT(p.drawnms, 0);
}

} // namespace
