#include "core/beatgrid.h"
#include "formats/looptrack.h"
#include "formats/midireader.h"
#include "formats/midiwriter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TimedMidiEventList noteList(std::initializer_list<std::tuple<int64, int, int64>> notes)
{
    TimedMidiEventList list;
    for (const auto& [time, note, length] : notes) {
        list.addEvent(time, MidiMessage::noteOn(64, note, 0));
        list.addEvent(time + length, MidiMessage::noteOff(64, note, 0));
    }
    return list;
}

std::vector<TimedMidiEventList> readBack(const std::string& path, int expectedRc = 0)
{
    std::vector<TimedMidiEventList> tracks;
    MidiReader reader;
    EXPECT_EQ(reader.open(path), 0);
    EXPECT_EQ(reader.read(tracks), expectedRc);
    return tracks;
}

class MidiFileTest : public ::testing::Test
{
protected:
    TempDir dir;
    std::string path = dir.file("idea.mid");
};

TEST_F(MidiFileTest, ByteLayoutOfAnEmptyTrackWrittenTwice)
{
    MidiWriter writer;
    ASSERT_EQ(writer.open(path), 0);
    ASSERT_EQ(writer.writeTrack(120.0f, TimedMidiEventList(), 2.0, 2), 0);
    ASSERT_EQ(writer.writeTrack(120.0f, TimedMidiEventList(), 2.0, 1), 0);
    ASSERT_EQ(writer.close(), 0);
    const Bytes expectedTrack = {
        'M', 'T', 'r', 'k', 0, 0, 0, 20,
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, // 500,000 us per quarter
        0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08, // 4/4
        0xBC, 0x00, 0xFF, 0x2F, 0x00, // end of track at tick 7,680
    };
    Bytes expected = { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x03, 0xC0 };
    expected.insert(expected.end(), expectedTrack.begin(), expectedTrack.end());
    expected.insert(expected.end(), expectedTrack.begin(), expectedTrack.end());
    expected[14 + 28 + 8 + 15] = 0x9E; // the second track ends at 3,840 (0x1E 0x00)
    expected[14 + 28 + 8 + 16] = 0x00;
    EXPECT_EQ(readFile(path), expected);
}

TEST_F(MidiFileTest, NotesAreRepeatedAndNoteOffAtTheSameTimeGetsDeltaZero)
{
    MidiWriter writer;
    ASSERT_EQ(writer.open(path), 0);
    TimedMidiEventList list;
    list.addEvent(0, MidiMessage::noteOn(64, 60, 0));
    list.addEvent(0, MidiMessage::noteOff(64, 60, 0));
    ASSERT_EQ(writer.writeTrack(120.0f, list, 1.0, 2), 0);
    ASSERT_EQ(writer.close(), 0);
    const Bytes bytes = readFile(path);
    const Bytes events(bytes.begin() + 14 + 8 + 15, bytes.end());
    const Bytes expected = {
        0x00, 0x90, 60, 64, 0x00, 0x80, 60, 64, // first pass
        0x8F, 0x00, 0x90, 60, 64, 0x00, 0x80, 60, 64, // second pass at tick 1,920
        0x8F, 0x00, 0xFF, 0x2F, 0x00, // end at tick 3,840
    };
    EXPECT_EQ(events, expected);
}

// Both directions truncate: one tick (1/1920 s at 120 bpm) plus a microsecond.
constexpr double kTickUs = 1000000.0 / 1920 + 1;

TEST_F(MidiFileTest, ReadingBackGivesTheWrittenTimesWithinATick)
{
    const TimedMidiEventList a = noteList({ { 0, 60, 250000 }, { 1000001, 62, 123457 } });
    const TimedMidiEventList b = noteList({ { 333333, 48, 1000000 } });
    MidiWriter writer;
    ASSERT_EQ(writer.open(path), 0);
    ASSERT_EQ(writer.writeTrack(120.0f, a, 4.0, 1), 0);
    ASSERT_EQ(writer.writeTrack(120.0f, b, 2.0, 2), 0);
    ASSERT_EQ(writer.writeTrack(120.0f, TimedMidiEventList(), 4.0, 1), 0);
    writer.close();

    const std::vector<TimedMidiEventList> tracks = readBack(path);
    ASSERT_EQ(tracks.size(), 3u);
    ASSERT_EQ(tracks[0].events().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(tracks[0].events()[i].first, a.events()[i].first, kTickUs) << i;
        EXPECT_EQ(tracks[0].events()[i].second, a.events()[i].second) << i;
    }
    ASSERT_EQ(tracks[1].events().size(), 4u); // written twice, 2 s apart
    EXPECT_NEAR(tracks[1].events()[2].first, 2333333, kTickUs);
    EXPECT_TRUE(tracks[2].events().empty());
}

TEST_F(MidiFileTest, LongTracksGrowTheBufferInsteadOfOverflowing)
{
    TimedMidiEventList many;
    for (int i = 0; i < 5000; ++i) {
        many.addEvent(i * 1000, MidiMessage::noteOn(64, i % 128, 0));
        many.addEvent(i * 1000 + 500, MidiMessage::noteOff(64, i % 128, 0));
    }
    MidiWriter writer;
    ASSERT_EQ(writer.open(path), 0);
    ASSERT_EQ(writer.writeTrack(120.0f, many, 5.0, 8), 0); // 80,000 events, over 131,072 bytes
    ASSERT_EQ(writer.writeTrack(120.0f, noteList({ { 0, 1, 10 } }), 5.0, 1), 0);
    writer.close();
    EXPECT_GT(readFile(path).size(), 131072u * 2);
    const std::vector<TimedMidiEventList> tracks = readBack(path);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].events().size(), 80000u);
    EXPECT_EQ(tracks[1].events().size(), 2u);
}

TEST_F(MidiFileTest, RefusedCalls)
{
    MidiWriter writer;
    EXPECT_EQ(writer.writeTrack(120.0f, TimedMidiEventList(), 1.0, 1), 1); // nothing open
    testing::internal::CaptureStdout();
    EXPECT_EQ(writer.open(dir.file("no/such/dir/x.mid")), 1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Failed to open file"), std::string::npos);
    ASSERT_EQ(writer.open(path), 0);
    EXPECT_EQ(writer.writeTrack(120.0f, TimedMidiEventList(), 1.0, 0), 1);
    EXPECT_EQ(writer.writeTrack(0.0f, TimedMidiEventList(), 1.0, 1), 1);
    writer.close();
    EXPECT_EQ(readBack(path).size(), 0u);

    MidiReader reader;
    testing::internal::CaptureStderr();
    EXPECT_EQ(reader.open(dir.file("missing.mid")), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to open MIDI file: " + dir.file("missing.mid") + "\n");
    std::vector<TimedMidiEventList> tracks;
    EXPECT_EQ(reader.read(tracks), 1);
    EXPECT_TRUE(tracks.empty());
}

// A foreign file: running status, program change (one data byte), channel
// pressure, a tempo change, a system exclusive message and an unknown meta.
TEST_F(MidiFileTest, ForeignFileWithRunningStatusAndOneDataByteMessages)
{
    const Bytes track = {
        0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7, // sysex with its length
        0x00, 0xFF, 0x01, 0x02, 'h', 'i', // text meta: skipped
        0x00, 0xC0, 0x05, // program change
        0x00, 0x90, 60, 100, // note on
        0x83, 0x60, 62, 100, // running status: note on 62 at tick 480
        0x00, 0xD0, 0x40, // channel pressure
        0x00, 60, // running status of the channel pressure: one data byte
        0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, // 60 bpm from here
        0x83, 0x60, 0x80, 60, 0, // note off at tick 960
        0x00, 0xFF, 0x2F, 0x00,
    };
    Bytes file = { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0x01, 0xE0 }; // 480 ticks per quarter
    file.insert(file.end(), { 'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(track.size()) });
    file.insert(file.end(), track.begin(), track.end());
    writeFile(path, file);

    const std::vector<TimedMidiEventList> tracks = readBack(path);
    ASSERT_EQ(tracks.size(), 1u);
    const auto& e = tracks[0].events();
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0], (TimedMidiEventList::Event(0, MidiMessage(0xC0, 5, 0))));
    EXPECT_EQ(e[1], (TimedMidiEventList::Event(0, MidiMessage(0x90, 60, 100))));
    EXPECT_EQ(e[2], (TimedMidiEventList::Event(500000, MidiMessage(0x90, 62, 100))));
    EXPECT_EQ(e[3], (TimedMidiEventList::Event(500000, MidiMessage(0xD0, 0x40, 0))));
    EXPECT_EQ(e[4], (TimedMidiEventList::Event(500000, MidiMessage(0xD0, 60, 0))));
    // Tick 960 at the tempo now in force (60 bpm): 2 s.
    EXPECT_EQ(e[5], (TimedMidiEventList::Event(2000000, MidiMessage(0x80, 60, 0))));
}

TEST_F(MidiFileTest, MalformedFilesKeepTheTracksReadBefore)
{
    MidiWriter writer;
    ASSERT_EQ(writer.open(path), 0);
    writer.writeTrack(120.0f, noteList({ { 0, 60, 1000 } }), 1.0, 1);
    writer.writeTrack(120.0f, noteList({ { 0, 61, 1000 } }), 1.0, 1);
    writer.close();
    const Bytes good = readFile(path);
    const std::size_t secondTrack = 14 + 8 + 15 + 8 + 5;

    struct Case { const char* what; std::size_t at; Bytes bytes; bool cut; std::size_t tracks; };
    const Case cases[] = {
        { "header id", 0, { 'M', 'T', 'h', 'x' }, false, 0 },
        { "header length", 4, { 0, 0, 0, 7 }, false, 0 },
        { "format 0", 8, { 0, 0 }, false, 0 },
        { "SMPTE division", 12, { 0xE7, 0x28 }, false, 0 },
        { "second chunk id", secondTrack, { 'X', 'T', 'r', 'k' }, false, 1 },
        { "second chunk longer than the file", secondTrack + 4, { 0, 1, 0, 0 }, false, 1 },
        { "tempo of the wrong length", secondTrack + 8 + 3, { 0x02 }, false, 1 },
        { "time signature without 8 32nds", secondTrack + 8 + 7 + 7, { 0x06 }, false, 1 },
        { "cut inside the second track", secondTrack + 8 + 20, {}, true, 1 },
        { "data byte without a status", secondTrack + 8 + 15 + 1, { 0x40 }, false, 1 },
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + c.at);
        if (c.cut)
            bad.resize(c.at);
        writeFile(path, bad);
        testing::internal::CaptureStderr();
        const std::vector<TimedMidiEventList> tracks = readBack(path, 1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Malformed MIDI file"), std::string::npos) << c.what;
        EXPECT_EQ(tracks.size(), c.tracks) << c.what;
    }
}

} // namespace

namespace {

// One loop of an idea, written the way a song's MIDI file holds it (repeated
// to the idea's longest loop, twice its beats), read back to its first pass
// and written again: the bytes are the same, the notes within a tick of the
// first, and no note on of the next pass sneaks in. A wrapped note (on at 0),
// a note held to the loop's end and one left open (closed when written) are
// in every loop; the rest are spread over it. Every tempo 30..200, 2..64 beats.
TEST_F(MidiFileTest, ALoopWrittenReadAndWrittenAgainGivesTheSameBytes)
{
    for (int bpm = 30; bpm <= 200; ++bpm) {
        for (int beats = 2; beats <= 64; beats *= 2) {
            const BeatGrid grid(bpm);
            const int64 frames = grid.framesForBeats(beats), longest = grid.framesForBeats(2 * beats);
            const int64 lengthUs = framesToMicroseconds(frames);
            TimedMidiEventList notes;
            notes.addEvent(lengthUs / 3, MidiMessage::noteOn(64, 60, 0));
            notes.addEvent(lengthUs - 1, MidiMessage::noteOff(64, 60, 0));
            notes.addEventAtFront(0, MidiMessage::noteOn(64, 60, 0));
            notes.addEvent(lengthUs / 7, MidiMessage::noteOff(64, 60, 0));
            for (int k = 1; k < beats; ++k)
                notes.addEvent(k * lengthUs / beats + 12345 % (k + 1), MidiMessage::noteOn(64, 40 + k % 30, 0));
            notes.addEvent(lengthUs - 200, MidiMessage::noteOn(64, 90, 0)); // still held
            std::vector<TimedMidiEventList> passes;
            std::vector<Bytes> files;
            TimedMidiEventList written = notes;
            for (int save = 0; save < 2; ++save) {
                const TimedMidiEventList toWrite = LoopTrack::notesToWrite(written, lengthUs);
                MidiWriter writer;
                ASSERT_EQ(writer.open(path), 0);
                ASSERT_EQ(writer.writeTrack(float(bpm), toWrite, frames / 44100.0, LoopTrack::repetitions(longest, frames),
                                            longest / 44100.0), 0);
                ASSERT_EQ(writer.close(), 0);
                files.push_back(readFile(path));
                MidiReader reader;
                std::vector<TimedMidiEventList> tracks;
                ASSERT_EQ(reader.open(path), 0);
                ASSERT_EQ(reader.read(tracks), 0);
                ASSERT_EQ(tracks.size(), 1u);
                const double tickUs = 60000000.0 / (double(reader.tempo()) * reader.ticksPerQuarter());
                written = LoopTrack::firstPass(tracks[0], LoopTrack::repetitions(longest, frames), lengthUs, tickUs);
                passes.push_back(written);
                ASSERT_EQ(written.events().size(), toWrite.events().size()) << bpm << " bpm, " << beats << " beats";
                for (std::size_t i = 0; i < toWrite.events().size(); ++i) {
                    ASSERT_EQ(written.events()[i].second, toWrite.events()[i].second) << bpm << " " << beats << " " << i;
                    ASSERT_NEAR(double(written.events()[i].first), double(toWrite.events()[i].first), tickUs)
                        << bpm << " " << beats << " " << i;
                }
            }
            ASSERT_EQ(files[0], files[1]) << bpm << " bpm, " << beats << " beats";
            ASSERT_EQ(passes[0].events(), passes[1].events()) << bpm << " bpm, " << beats << " beats";
        }
    }
}

// A track of several passes is read back by count, not by time: a pass's
// first note may land a tick short of the loop's end. A track that does not
// repeat its events is cut at the loop's end, with note ons in its last two
// ticks left to the next pass.
TEST(LoopTrack, TheFirstPassIsTakenByCountWhereTheTrackRepeats)
{
    const double tickUs = 500;
    TimedMidiEventList track;
    for (int64 pass = 0; pass < 2; ++pass) {
        track.addEvent(pass * 1000000 - (pass ? 700 : 0), MidiMessage::noteOn(64, 60, 0));
        track.addEvent(pass * 1000000 + 400000, MidiMessage::noteOff(64, 60, 0));
    }
    EXPECT_EQ(LoopTrack::firstPass(track, 2, 1000000, tickUs).events().size(), 2u);
    EXPECT_EQ(LoopTrack::firstPass(track, 1, 1000000, tickUs).events().size(), 2u) << "the note on at 999,300 is the next pass's";

    struct Case { int64 longest; int64 frames; int repetitions; };
    const Case cases[] = { { 352800, 88200, 4 }, { 1539491, 48109, 32 }, { 769746, 384873, 2 }, { 100, 30, 3 },
                           { 30, 100, 1 }, { 5, 0, 1 } };
    for (const Case& c : cases)
        EXPECT_EQ(LoopTrack::repetitions(c.longest, c.frames), c.repetitions) << c.longest << " / " << c.frames;
}

} // namespace
