#include "core/midimessage.h"
#include "core/timedmidieventlist.h"
#include "loops/midirecorder.h"

#include "support/debuglog.h"
#include "support/setclock.h"

#include <gtest/gtest.h>

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
    EXPECT_FALSE(MidiMessage().isNoteOnOrOff());
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
        m_clock.m_now = 1000000;
        m_recorder.setLoopLengthUs(4000000);
        m_recorder.start();
        m_recorder.setRecord(true);
    }

    // Plays at a time counted from the recorder's start.
    void at(int64 us, void (MidiRecorder::*key)(int), int note)
    {
        m_clock.m_now = 1000000 + us;
        (m_recorder.*key)(note);
    }

    SetClock m_clock;
    MidiRecorder m_recorder { m_clock };
};

TEST_F(Recorder, NoteHeldAcrossTheLoopEndIsSplitInTwo)
{
    DebugLogOn debug; // per-note lines
    testing::internal::CaptureStdout();
    at(3900000, &MidiRecorder::noteOn, 60);
    at(4100000, &MidiRecorder::noteOff, 60);
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
        { "times fold into the loop", true, { { 8000100, true, 61 }, { 8000400, false, 61 } }, { { 100, 61, 300 } } },
        { "notes outside 0..127", true, { { 100, true, -1 }, { 100, true, 128 }, { 200, false, 128 } }, {} },
    };
    for (const Case& c : cases) {
        m_recorder.clear();
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
    m_recorder.clear();
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
