#include "engine/enginecontext.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "qt/midiinputdevice.h"
#include "qt/midithread.h"
#include "qt/settings.h"
#include "recordingbridge.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <vector>

namespace {

PmEvent word(int status, int data1 = 0, int data2 = 0, int byte3 = 0)
{
    return PmEvent { PmMessage(Pm_Message(status, data1, data2) | (byte3 << 24)), 0 };
}

std::string on(int note) { return "{ \"keyboard\" : { \"note_on\" : \"" + std::to_string(note) + "\" } }"; }
std::string off(int note) { return "{ \"keyboard\" : { \"note_off\" : \"" + std::to_string(note) + "\" } }"; }

class MidiDecoding : public ::testing::Test
{
protected:
    // The engine is never torn down and outlives each test: its first
    // instrument load is over before a bridge is attached, and the bridge
    // is detached before it goes.
    void SetUp() override
    {
        context.engine()->instrument()->waitForLoad();
        context.engine()->setJsBridge(&bridge);
    }
    void TearDown() override { context.engine()->setJsBridge(nullptr); }

    RecordingBridge bridge;
    EngineContext context { nullptr };
};

TEST_F(MidiDecoding, RecordedStreamsGiveTheseMessages)
{
    struct Case {
        const char* what;
        std::vector<PmEvent> events;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        { "note on then off", { word(0x90, 60, 100), word(0x80, 60, 64) }, { on(60), off(60) } },
        { "velocity 0 is a note off", { word(0x90, 64, 0) }, { off(64) } },
        { "channel 2 ignored", { word(0x91, 60, 100), word(0x81, 60, 0) }, {} },
        { "controllers, bend, program, clock ignored",
            { word(0xB0, 64, 127), word(0xE0, 0, 64), word(0xC0, 5), word(0xF8) }, {} },
        { "sysex swallows notes until its end",
            { word(0xF0, 0x7E, 0x7F), word(0x90, 1, 2), word(0x01, 0xF7), word(0x90, 62, 90) }, { on(62) } },
        { "end in the fourth byte of a word",
            { word(0xF0, 0x43, 0x10), word(0x4C, 0x00, 0x00, 0xF7), word(0x90, 48, 70) }, { on(48) } },
        { "sysex that fits in one word", { word(0xF0, 0x7E, 0xF7), word(0x90, 50, 80) }, { on(50) } },
        { "status without a channel nibble only", { word(0x9F, 60, 100), word(0x90, 127, 127) }, { on(127) } },
    };
    for (const Case& c : cases) {
        RecordingBridge fresh;
        context.engine()->setJsBridge(&fresh);
        MidiInputDevice device(context.engine());
        device.handleEvents(c.events.data(), int(c.events.size()));
        EXPECT_EQ(fresh.messages(), c.expected) << c.what;
        EXPECT_FALSE(device.inSysex()) << c.what;
        context.engine()->setJsBridge(&bridge);
    }
}

TEST_F(MidiDecoding, UnfinishedSysexCarriesOverToTheNextRead)
{
    MidiInputDevice device(context.engine());
    const PmEvent first[] = { word(0xF0, 0x41, 0x10), word(0x42, 0x12, 0x40) };
    device.handleEvents(first, 2);
    EXPECT_TRUE(device.inSysex());
    const PmEvent second[] = { word(0x90, 60, 100), word(0x00, 0xF7), word(0x90, 61, 100) };
    device.handleEvents(second, 3);
    EXPECT_EQ(bridge.messages(), std::vector<std::string> { on(61) });
}

TEST(MidiInputDeviceOpen, NoneOpensNothingAndLeavesPortMidiAlone)
{
    Settings::instance().setValue("MidiDevice", "None");
    MidiInputDevice device(nullptr);
    device.open();
    EXPECT_FALSE(device.isPortMidiInitialised());
    EXPECT_FALSE(device.isOpen());
    device.poll(); // returns at once
}

// Another port would play what the musician did not choose: a keyboard that
// is not there is reported, and nothing opens in its place.
TEST(MidiInputDeviceOpen, MissingKeyboardIsReportedNotReplaced)
{
    Settings::instance().setValue("MidiDevice", "250. Gone Keyboard");
    MidiInputDevice device(nullptr);
    device.open();
    EXPECT_TRUE(device.isPortMidiInitialised());
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(device.problem(), "No MIDI keyboard: Gone Keyboard is not connected");
    device.poll();
}

// A keyboard plugged in again comes back on another port number, the ports
// listed in a new order: it is found by its name.
TEST(MidiInputDeviceOpen, KeyboardIsFoundByNameAfterAReplug)
{
    using Port = MidiInputDevice::MidiPort;
    const QList<Port> before = { { 0, "Midi Through Port-0", true }, { 1, "Midi Through Port-0", false },
        { 2, "USB Keyboard", true }, { 3, "USB Keyboard", false } };
    const QList<Port> replugged = { { 0, "USB Keyboard", true }, { 1, "USB Keyboard", false },
        { 2, "Midi Through Port-0", true }, { 3, "Midi Through Port-0", false } };
    const QList<Port> twoAlike = { { 0, "USB Keyboard", true }, { 1, "Pads", true }, { 2, "USB Keyboard", true } };
    struct Case {
        const char* what;
        QString setting;
        QList<Port> ports;
        int port;
    };
    const Case cases[] = {
        { "where it was", "2. USB Keyboard", before, 2 },
        { "moved to another number", "2. USB Keyboard", replugged, 0 },
        { "an output of that name is no keyboard", "1. USB Keyboard", before, 2 },
        { "two alike: the stored number decides", "2. USB Keyboard", twoAlike, 2 },
        { "not there", "2. USB Keyboard", { { 0, "Pads", true } }, -1 },
        { "a bare number opens that input", "2", before, 2 },
        { "a bare number of an output opens nothing", "1", before, -1 },
        { "nothing stored: port 0 when it is an input", "", replugged, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(MidiInputDevice::findPort(c.setting, c.ports), c.port) << c.what;
}

TEST(MidiInputDeviceOpen, EntriesParseToTheirNumber)
{
    struct Case { QString entry; int id; };
    const Case cases[] = { { "3. USB Keyboard", 3 }, { "12. A.B. Synth", 12 }, { "", 0 }, { "Keyboard", 0 } };
    for (const Case& c : cases)
        EXPECT_EQ(MidiInputDevice::parseDeviceId(c.entry), c.id) << c.entry.toStdString();
}

TEST(MidiThread, PollsAnOpenKeyboardAndStopsWithoutNoteOffs)
{
    RecordingBridge bridge;
    EngineContext context(nullptr);
    context.engine()->instrument()->waitForLoad();
    context.engine()->setJsBridge(&bridge);
    QTemporaryDir folder;
    const QString events = folder.filePath("events");
    QFile file(events);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("90 3c 64\n");
    file.close();
    qputenv("MOTIFO_MIDI_EVENTS", QFile::encodeName(events));
    auto* thread = new MidiThread(context.engine());
    qunsetenv("MOTIFO_MIDI_EVENTS");
    // The held note arrives by polling; the thread polls on.
    QDeadlineTimer deadline(10000);
    while (bridge.messages().empty() && !deadline.hasExpired())
        QThread::msleep(5);
    EXPECT_TRUE(thread->isRunning());
    delete thread; // returns once run() has ended
    EXPECT_EQ(bridge.messages(), std::vector<std::string> { on(60) });
    context.engine()->setJsBridge(nullptr);
}

TEST(MidiThread, WithNoKeyboardPollsNothing)
{
    EngineContext context(nullptr);
    Settings::instance().setValue("MidiDevice", "None");
    auto* thread = new MidiThread(context.engine());
    EXPECT_FALSE(thread->device()->isOpen());
    EXPECT_TRUE(thread->wait(QDeadlineTimer(10000))) << "still polling";
    delete thread;
}

} // namespace
