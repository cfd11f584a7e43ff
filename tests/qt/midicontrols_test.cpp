#include "core/jsonfield.h"
#include "engine/enginecontext.h"
#include "engine/midimap.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "qt/midiinputdevice.h"
#include "qt/midimapsettings.h"
#include "qt/settings.h"
#include "recordingbridge.h"
#include "waitfor.h"

#include <QObject>
#include <gtest/gtest.h>
#include <json/value.h>
#include <vector>

namespace {

// A message word and the millisecond it arrived at.
PmEvent at(int ms, int status, int data1, int data2 = 0)
{
    return PmEvent { PmMessage(Pm_Message(status, data1, data2)), PmTimestamp(ms) };
}

std::string action(const char* name) { return std::string("{ \"midi_map\" : { \"action\" : \"") + name + "\" } }"; }
std::string noteOnText(int note) { return "{ \"keyboard\" : { \"note_on\" : \"" + std::to_string(note) + "\" } }"; }
std::string noteOffText(int note) { return "{ \"keyboard\" : { \"note_off\" : \"" + std::to_string(note) + "\" } }"; }

Json::Value parsed(const std::string& text)
{
    Json::Value v;
    JsonField::parse(text, v);
    return v;
}

// The engine's MIDI map fed through the input's own decoding; the page is a
// bridge that records what would reach it.
class MidiControls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        engine()->instrument()->waitForLoad();
        engine()->midiMap().fromSettings("{}");
        engine()->setJsBridge(&bridge);
        device = std::make_unique<MidiInputDevice>(engine());
    }
    void TearDown() override
    {
        device.reset();
        engine()->setJsBridge(nullptr);
        engine()->midiMap().fromSettings("{}");
    }

    ZubEngine* engine() { return context.engine(); }
    std::string ask(const std::string& message) { return context.api()->handleMessage(message); }
    void feed(std::vector<PmEvent> events) { device->handleEvents(events.data(), int(events.size())); }
    // Learns `what` for the action from the control's first message.
    void learn(const char* what, PmEvent first)
    {
        ask(std::string("{ \"midi_map\" : { \"learn\" : \"") + what + "\" } }");
        feed({ first });
        bridge.take();
    }

    RecordingBridge bridge;
    EngineContext context { nullptr };
    std::unique_ptr<MidiInputDevice> device;
};

TEST_F(MidiControls, LearningBindsTheNextControlAndShowsItInWords)
{
    struct Case {
        PmEvent control;
        const char* text;
        const char* kind;
    };
    const Case cases[] = {
        { at(0, 0xB3, 80, 127), "CC 80 on channel 4", "cc" },
        { at(0, 0xB0, 64, 0), "CC 64 on channel 1", "cc" },
        { at(0, 0xC0, 5), "Program 5 on channel 1", "program" },
        { at(0, 0x99, 36, 100), "Note 36 on channel 10", "note" },
    };
    for (const Case& c : cases) {
        const Json::Value armed = parsed(ask("{ \"midi_map\" : { \"learn\" : \"keep_loop\" } }"))["midi_map"];
        EXPECT_EQ(armed["learning"].asString(), "keep_loop");
        // A note-off or clock before the control moves binds nothing.
        feed({ at(0, 0x80, 61, 0), at(0, 0xF8, 0) });
        feed({ c.control });
        const std::vector<std::string> pushed = bridge.take();
        ASSERT_EQ(pushed.size(), 2u) << c.text; // the note-off, then the new state
        EXPECT_EQ(pushed[0], noteOffText(61));
        const Json::Value map = parsed(pushed[1])["midi_map"];
        EXPECT_EQ(map["learning"].asString(), "") << c.text;
        ASSERT_EQ(map["bindings"].size(), 1u) << c.text;
        EXPECT_EQ(map["bindings"][0]["action"].asString(), "keep_loop");
        EXPECT_EQ(map["bindings"][0]["text"].asString(), c.text);
        EXPECT_EQ(map["bindings"][0]["control"].asString(), c.kind);
        EXPECT_EQ(parsed(ask("getMidiMap")), parsed(pushed[1])) << c.text;
    }
}

TEST_F(MidiControls, OneControlOneActionAndUnbindFreesIt)
{
    learn("record", at(0, 0xB0, 80, 127));
    learn("keep_loop", at(0, 0xB0, 81, 127));
    // The same control learnt for another action moves there; the action's
    // old control is let go.
    learn("keep_loop", at(0, 0xB0, 80, 127));
    Json::Value map = parsed(ask("getMidiMap"))["midi_map"];
    ASSERT_EQ(map["bindings"].size(), 1u);
    EXPECT_EQ(map["bindings"][0]["action"].asString(), "keep_loop");
    EXPECT_EQ(map["bindings"][0]["number"].asInt(), 80);

    feed({ at(1000, 0xB0, 81, 127), at(2000, 0xB0, 80, 0), at(3000, 0xB0, 80, 127) });
    EXPECT_EQ(bridge.take(), std::vector<std::string> { action("keep_loop") });

    map = parsed(ask("{ \"midi_map\" : { \"unbind\" : \"keep_loop\" } }"))["midi_map"];
    EXPECT_EQ(map["bindings"].size(), 0u);
    feed({ at(4000, 0xB0, 80, 0), at(5000, 0xB0, 80, 127) });
    EXPECT_TRUE(bridge.take().empty());
}

TEST_F(MidiControls, UnknownActionsAndBadValuesChangeNothing)
{
    learn("keep_loop", at(0, 0xB0, 80, 127));
    const std::string before = ask("getMidiMap");
    for (const char* message : {
             "{ \"midi_map\" : { \"learn\" : \"format_disk\" } }",
             "{ \"midi_map\" : { \"learn\" : 7 } }",
             "{ \"midi_map\" : { \"unbind\" : \"record\" } }",
             "{ \"midi_map\" : { \"channel\" : 17 } }",
             "{ \"midi_map\" : { \"channel\" : 0 } }",
             "{ \"midi_map\" : { \"channel\" : \"x\" } }",
             "{ \"midi_map\" : { \"switch\" : { \"action\" : \"keep_loop\", \"kind\" : \"latch\" } } }",
             "{ \"midi_map\" : [ 1 ] }",
         })
        ask(message);
    EXPECT_EQ(ask("getMidiMap"), before);
    feed({ at(1000, 0xB0, 80, 0), at(2000, 0xB0, 81, 127) });
    EXPECT_TRUE(bridge.take().empty()) << "nothing was armed";
}

// Each press acts once, never on release; a bouncing switch acts once.
TEST_F(MidiControls, FootSwitchesPressOnceAndIgnoreBounce)
{
    struct Case {
        const char* what;
        const char* kind;
        PmEvent learnt;
        std::vector<PmEvent> events;
        size_t presses;
    };
    const Case cases[] = {
        { "momentary: three presses", "momentary", at(0, 0xB0, 80, 127),
            { at(50, 0xB0, 80, 0), at(1000, 0xB0, 80, 127), at(1100, 0xB0, 80, 0), at(2000, 0xB0, 80, 127),
                at(2100, 0xB0, 80, 0), at(3000, 0xB0, 80, 100), at(3100, 0xB0, 80, 10) },
            3 },
        { "momentary: a release alone does nothing", "momentary", at(0, 0xB0, 80, 127),
            { at(1000, 0xB0, 80, 0), at(2000, 0xB0, 80, 63) }, 0 },
        { "momentary: a value held and sent again is one press", "momentary", at(0, 0xB0, 80, 0),
            { at(1000, 0xB0, 80, 127), at(1100, 0xB0, 80, 127), at(1200, 0xB0, 80, 90) }, 1 },
        { "momentary: bounce within 30 ms", "momentary", at(0, 0xB0, 80, 0),
            { at(1000, 0xB0, 80, 127), at(1004, 0xB0, 80, 0), at(1009, 0xB0, 80, 127), at(1020, 0xB0, 80, 0),
                at(1028, 0xB0, 80, 127), at(1200, 0xB0, 80, 0) },
            1 },
        { "toggle: every change is a press", "toggle", at(0, 0xB0, 80, 127),
            { at(1000, 0xB0, 80, 0), at(2000, 0xB0, 80, 127), at(3000, 0xB0, 80, 0) }, 3 },
        { "toggle: a repeated value is no press", "toggle", at(0, 0xB0, 80, 0),
            { at(1000, 0xB0, 80, 127), at(2000, 0xB0, 80, 127) }, 1 },
        { "toggle: bounce within 30 ms", "toggle", at(0, 0xB0, 80, 0),
            { at(1000, 0xB0, 80, 127), at(1005, 0xB0, 80, 0), at(1011, 0xB0, 80, 127), at(2000, 0xB0, 80, 0) }, 2 },
        { "the learning press and its bounce act on nothing", "momentary", at(0, 0xB0, 80, 127),
            { at(5, 0xB0, 80, 0), at(12, 0xB0, 80, 127), at(300, 0xB0, 80, 0) }, 0 },
        { "program changes: each is a press", "momentary", at(0, 0xC2, 9),
            { at(1000, 0xC2, 9), at(2000, 0xC2, 9), at(2010, 0xC2, 9), at(3000, 0xC2, 8) }, 2 },
        { "a pad: note on presses, note off releases", "momentary", at(0, 0x99, 36, 90),
            { at(100, 0x89, 36, 0), at(1000, 0x99, 36, 90), at(1100, 0x99, 36, 0), at(2000, 0x99, 36, 5) }, 2 },
    };
    for (const Case& c : cases) {
        learn("keep_loop", c.learnt);
        ask(std::string("{ \"midi_map\" : { \"switch\" : { \"action\" : \"keep_loop\", \"kind\" : \"") + c.kind + "\" } } }");
        bridge.take();
        feed(c.events);
        EXPECT_EQ(bridge.take(), std::vector<std::string>(c.presses, action("keep_loop"))) << c.what;
    }
}

// A bound control never plays; other notes play on the chosen channel only.
TEST_F(MidiControls, BoundControlsNeverReachTheInstrument)
{
    learn("record", at(0, 0x90, 60, 100));
    learn("keep_loop", at(0, 0xB0, 64, 127));
    feed({ at(20, 0x80, 60, 0), at(25, 0xB0, 64, 0) });
    EXPECT_TRUE(bridge.take().empty());

    feed({ at(1000, 0x90, 60, 100), at(1000, 0x90, 62, 100), at(1100, 0x80, 60, 0), at(1100, 0x80, 62, 0),
        at(1200, 0xB0, 64, 127), at(1300, 0x91, 65, 100) });
    EXPECT_EQ(bridge.take(),
        (std::vector<std::string> { action("record"), noteOnText(62), noteOffText(62), action("keep_loop") }));

    // The panel's channel: notes on channel 2 play, channel 1 falls silent,
    // and a note held across the change still ends.
    feed({ at(2000, 0x90, 67, 100) });
    const Json::Value map = parsed(ask("{ \"midi_map\" : { \"channel\" : 2 } }"))["midi_map"];
    EXPECT_EQ(map["channel"].asInt(), 2);
    feed({ at(2100, 0x80, 67, 0), at(2200, 0x90, 69, 100), at(2300, 0x91, 71, 100), at(2400, 0x81, 71, 0) });
    EXPECT_EQ(bridge.take(), (std::vector<std::string> { noteOnText(67), noteOffText(67), noteOnText(71), noteOffText(71) }));
}

TEST_F(MidiControls, BindingsAndChannelSurviveARestart)
{
    QObject app;
    MidiMapSettings::attach(engine()->midiMap(), &app);
    learn("mute_loop_3", at(0, 0xB5, 20, 127));
    ask("{ \"midi_map\" : { \"switch\" : { \"action\" : \"mute_loop_3\", \"kind\" : \"toggle\" } } }");
    ask("{ \"midi_map\" : { \"channel\" : 10 } }");
    const std::string stored = engine()->midiMap().toSettings();
    // Stored on the GUI thread's turn, in the file itself.
    ASSERT_TRUE(waitFor([&] {
        Settings::instance().load();
        return Settings::instance().value(MidiMapSettings::KEY).toStdString() == stored;
    }));
    MidiMapSettings::detach(engine()->midiMap());

    MidiMap next;
    QObject nextApp;
    MidiMapSettings::attach(next, &nextApp);
    Json::Value before(Json::objectValue), after(Json::objectValue);
    engine()->midiMap().toJson(before);
    next.toJson(after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(after["midi_map"]["channel"].asInt(), 10);
    EXPECT_EQ(after["midi_map"]["bindings"][0]["switch"].asString(), "toggle");
    // A toggle switch restored without its last value: its first change presses.
    EXPECT_EQ(next.handle(0xB5, 20, 0, 1000).action, "mute_loop_3");
    MidiMapSettings::detach(next);
}

TEST(MidiMapSettingsText, UnreadableEntriesAreLeftOut)
{
    MidiMap map;
    map.fromSettings(R"({ "channel" : 99, "bindings" : [
        { "action" : "keep_loop", "control" : "cc", "channel" : 1, "number" : 80 },
        { "action" : "erase_all", "control" : "cc", "channel" : 1, "number" : 81 },
        { "action" : "record", "control" : "pedal", "channel" : 1, "number" : 82 },
        { "action" : "undo", "control" : "note", "channel" : 17, "number" : 60 },
        { "action" : "redo", "control" : "note", "channel" : 1, "number" : 128 },
        "junk", 5 ] })");
    Json::Value root;
    map.toJson(root);
    EXPECT_EQ(root["midi_map"]["channel"].asInt(), 1);
    ASSERT_EQ(root["midi_map"]["bindings"].size(), 1u);
    EXPECT_EQ(root["midi_map"]["bindings"][0]["text"].asString(), "CC 80 on channel 1");
    map.fromSettings("not json");
    map.toJson(root);
    EXPECT_EQ(root["midi_map"]["bindings"].size(), 1u) << "a bad text keeps what was there";
}

} // namespace
