#include "core/midimessage.h"
#include "core/timedmidieventlist.h"
#include "loops/midirecorder.h"

#include "support/debuglog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct Note
{
    int64 time;
    int note;
    int64 length;
};

std::vector<Note> notes(const TimedMidiEventList& list)
{
    std::vector<Note> out;
    for (const Json::Value& n : list.toJson())
        out.push_back({ n["time"].asInt64(), n["note"].asInt(), n["length"].asInt64() });
    return out;
}

bool operator==(const Note& a, const Note& b)
{
    return a.time == b.time && a.note == b.note && a.length == b.length;
}

void PrintTo(const Note& n, std::ostream* os)
{
    *os << "{" << n.time << ", " << n.note << ", " << n.length << "}";
}

TEST(MidiMessage, NoteOnAndOffBytes)
{
    const MidiMessage on = MidiMessage::noteOn(100, 60, 3), off = MidiMessage::noteOff(64, 61, 0);
    EXPECT_EQ(on.status(), 0x93);
    EXPECT_EQ(on.data1(), 60);
    EXPECT_EQ(on.data2(), 100);
    EXPECT_TRUE(on.isNoteOn());
    EXPECT_FALSE(on.isNoteOff());
    EXPECT_EQ(off.status(), 0x80);
    EXPECT_TRUE(off.isNoteOff());
    EXPECT_TRUE(on.isNoteOnOrOff());
    EXPECT_TRUE(off.isNoteOnOrOff());
    for (const MidiMessage other : { MidiMessage(), MidiMessage(0xB0, 64, 127), MidiMessage(0xC5, 3, 0), MidiMessage(0xE0, 0, 64) })
        EXPECT_FALSE(other.isNoteOnOrOff()) << int(other.status());
}

TEST(TimedMidiEventList, KeepsTimeOrderAndArrivalOrderForEqualTimes)
{
    TimedMidiEventList list;
    list.addEvent(500, MidiMessage::noteOn(64, 1, 0));
    list.addEvent(100, MidiMessage::noteOn(64, 2, 0));
    list.addEvent(500, MidiMessage::noteOn(64, 3, 0));
    list.addEvent(0, MidiMessage::noteOn(64, 4, 0));
    list.addEventAtFront(0, MidiMessage::noteOn(64, 5, 0));
    std::vector<int> order;
    for (const auto& e : list.events())
        order.push_back(e.second.note());
    EXPECT_EQ(order, (std::vector<int> { 5, 4, 2, 1, 3 }));

    const TimedMidiEventList copy = list;
    list.clear();
    EXPECT_TRUE(list.events().empty());
    EXPECT_EQ(copy.events().size(), 5u);
}

TEST(TimedMidiEventList, NotesPairEachOnWithTheNextOffOfItsNumber)
{
    TimedMidiEventList list;
    list.addEvent(0, MidiMessage::noteOn(64, 60, 0));
    list.addEvent(10, MidiMessage::noteOn(64, 62, 0));
    list.addEvent(20, MidiMessage::noteOff(64, 60, 0));
    list.addEvent(30, MidiMessage::noteOn(64, 60, 0));
    list.addEvent(45, MidiMessage::noteOff(64, 60, 0));
    list.addEvent(50, MidiMessage::noteOn(64, 70, 0)); // never released: left out
    list.addEvent(60, MidiMessage::noteOff(64, 62, 0));
    EXPECT_EQ(notes(list), (std::vector<Note> { { 0, 60, 20 }, { 10, 62, 50 }, { 30, 60, 15 } }));

    TimedMidiEventList onlyOn;
    onlyOn.addEvent(5, MidiMessage::noteOn(64, 60, 0));
    EXPECT_TRUE(onlyOn.toJson().isArray());
    EXPECT_EQ(onlyOn.toJson().size(), 0u);
}

class Recorder : public testing::Test
{
protected:
    Recorder()
    {
        m_recorder.setLoopLengthUs(4000000);
        m_recorder.setRecord(true);
    }

    // A key moving at a loop time.
    void at(int64 us, void (MidiRecorder::*key)(int, int64), int note) { (m_recorder.*key)(note, us); }

    MidiRecorder m_recorder;
};

TEST_F(Recorder, NoteHeldAcrossTheLoopEndIsSplitInTwo)
{
    DebugLogOn debug; // per-note lines
    testing::internal::CaptureStdout();
    at(3900000, &MidiRecorder::noteOn, 60);
    at(100000, &MidiRecorder::noteOff, 60);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("note on at 3.9 seconds."), std::string::npos) << out;
    EXPECT_NE(out.find("Note wrapped, splitting it up!"), std::string::npos) << out;

    const TimedMidiEventList list = m_recorder.events();
    ASSERT_EQ(list.events().size(), 4u);
    const std::pair<int64, bool> expected[] = { { 0, true }, { 100000, false }, { 3900000, true }, { 3999999, false } };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list.events()[i].first, expected[i].first) << i;
        EXPECT_EQ(list.events()[i].second.isNoteOn(), expected[i].second) << i;
        EXPECT_EQ(list.events()[i].second.velocity(), 64);
        EXPECT_EQ(list.events()[i].second.channel(), 0);
    }
    EXPECT_EQ(notes(list), (std::vector<Note> { { 0, 60, 100000 }, { 3900000, 60, 99999 } }));
}

TEST_F(Recorder, RecordsOnlyWhatWasPlayedWhileRecording)
{
    struct Key { int64 us; bool on; int note; };
    struct Case { const char* what; bool recording; std::vector<Key> keys; std::vector<Note> expected; };
    const Case cases[] = {
        { "second press ignored", true, { { 100, true, 60 }, { 200, true, 60 }, { 300, false, 60 } }, { { 100, 60, 200 } } },
        { "release without press", true, { { 100, false, 60 } }, {} },
        { "not recording", false, { { 100, true, 60 }, { 200, false, 60 } }, {} },
        { "same note twice", true,
          { { 100, true, 60 }, { 200, false, 60 }, { 300, true, 60 }, { 450, false, 60 } },
          { { 100, 60, 100 }, { 300, 60, 150 } } },
        { "notes outside 0..127", true, { { 100, true, -1 }, { 100, true, 128 }, { 200, false, 128 } }, {} },
    };
    for (const Case& c : cases) {
        m_recorder.reset();
        m_recorder.setRecord(c.recording);
        testing::internal::CaptureStdout();
        for (const Key& k : c.keys)
            at(k.us, k.on ? &MidiRecorder::noteOn : &MidiRecorder::noteOff, k.note);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(notes(m_recorder.events()), c.expected) << c.what;
    }
}

TEST_F(Recorder, KeyReleasedWhileNotRecordingCanBeRecordedAgain)
{
    testing::internal::CaptureStdout();
    at(100, &MidiRecorder::noteOn, 60);
    m_recorder.setRecord(false);
    at(200, &MidiRecorder::noteOff, 60);
    m_recorder.setRecord(true);
    m_recorder.clear(0);
    at(1000, &MidiRecorder::noteOn, 60);
    at(1500, &MidiRecorder::noteOff, 60);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(notes(m_recorder.events()), (std::vector<Note> { { 1000, 60, 500 } }));
}

TEST_F(Recorder, EventsAreASnapshot)
{
    testing::internal::CaptureStdout();
    at(100, &MidiRecorder::noteOn, 60);
    const TimedMidiEventList snapshot = m_recorder.events();
    at(200, &MidiRecorder::noteOff, 60);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(snapshot.events().size(), 1u);
    EXPECT_EQ(m_recorder.events().events().size(), 2u);
}

} // namespace

namespace {

// A key still down when recording stops or the recorder hands its notes over
// ends just before the loop's end; once the loop wraps with the key still
// down, the recorder goes on with it from 0. Loop of 4 s.
TEST_F(Recorder, HeldNotesEndWithTheLoopAndGoOnFromZero)
{
    constexpr int64 L = 4000000;
    struct Case
    {
        const char* what;
        std::function<void(MidiRecorder&, TimedMidiEventList&)> steps;
        std::vector<Note> handedOver;
        std::vector<Note> recorder;
    };
    auto handOver = [](MidiRecorder& r, TimedMidiEventList& out, int64 now) {
        r.closeHeldNotes(now);
        out = r.events();
        r.clear(now);
    };
    const Case cases[] = {
        { "recording stops while held",
          [](MidiRecorder& r, TimedMidiEventList&) { r.noteOn(60, 1000000); r.setRecord(false, 1500000); r.noteOff(60, 1600000); },
          {}, { { 1000000, 60, L - 1 - 1000000 } } },
        { "recording stops after the held key wrapped",
          [](MidiRecorder& r, TimedMidiEventList&) { r.noteOn(60, 3000000); r.setRecord(false, 500000); },
          {}, { { 0, 60, 500000 }, { 3000000, 60, L - 1 - 3000000 } } },
        { "handed over, released in the same pass",
          [&](MidiRecorder& r, TimedMidiEventList& out) { r.noteOn(60, 1000000); handOver(r, out, 2000000); r.noteOff(60, 2500000); },
          { { 1000000, 60, L - 1 - 1000000 } }, {} },
        { "handed over, still down after the wrap",
          [&](MidiRecorder& r, TimedMidiEventList& out) { r.noteOn(60, 1000000); handOver(r, out, 2000000); r.noteOff(60, 700000); },
          { { 1000000, 60, L - 1 - 1000000 } }, { { 0, 60, 700000 } } },
        { "handed over twice, down for a whole pass between",
          [&](MidiRecorder& r, TimedMidiEventList& out) {
              r.noteOn(60, 1000000);
              handOver(r, out, 2000000);
              r.noteOn(61, 2100000);
              r.noteOff(61, 2200000);
              handOver(r, out, 1500000);
          },
          { { 0, 60, L - 1 }, { 2100000, 61, 100000 } }, {} },
    };
    for (const Case& c : cases) {
        MidiRecorder r;
        r.setLoopLengthUs(L);
        r.setRecord(true);
        TimedMidiEventList handed;
        testing::internal::CaptureStdout();
        c.steps(r, handed);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(notes(handed), c.handedOver) << c.what;
        EXPECT_EQ(notes(r.events()), c.recorder) << c.what;
        for (const TimedMidiEventList& list : { handed, r.events() }) {
            TimedMidiEventList closed = list;
            closed.closeOpenNotes(L);
            EXPECT_EQ(closed.events().size(), list.events().size()) << c.what << ": a note left open";
        }
    }
}

TEST(TimedMidiEventList, OpenNotesAreClosedAtTheLoopEnd)
{
    TimedMidiEventList list;
    list.addEvent(0, MidiMessage::noteOn(64, 60, 0));
    list.addEvent(10, MidiMessage::noteOn(64, 60, 0)); // pressed again before the off
    list.addEvent(20, MidiMessage::noteOff(64, 60, 0));
    list.addEvent(30, MidiMessage::noteOn(64, 62, 1));
    list.addEvent(40, MidiMessage::noteOff(64, 70, 0)); // an off without an on stays alone
    list.closeOpenNotes(1000);
    ASSERT_EQ(list.events().size(), 7u);
    EXPECT_EQ(list.events()[5], TimedMidiEventList::Event(999, MidiMessage::noteOff(64, 60, 0)));
    EXPECT_EQ(list.events()[6], TimedMidiEventList::Event(999, MidiMessage::noteOff(64, 62, 1)));
}

} // namespace
