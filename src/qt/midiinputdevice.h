#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <bitset>
#include <portmidi.h>

class NativeJsBridge;
class ZubEngine;

// One PortMidi input: opened from the "MidiDevice" setting, polled by the
// MIDI thread, its note messages played on the engine and shown on the page.
// Controls bound in the engine's MIDI map run the page's actions instead.
// Where the environment names a file in MOTIFO_MIDI_EVENTS, its lines of
// message bytes in hex ("B0 50 7F") are read as they are appended, in place
// of a device: the way recorded controller input reaches the running program.
class MidiInputDevice
{
public:
    static constexpr int MIDI_EVENT_BUFFER = 64;

    explicit MidiInputDevice(ZubEngine* engine);
    ~MidiInputDevice();

    // GUI thread, before the MIDI thread runs.
    void open();
    void close();
    // MIDI thread.
    void poll();
    // The decoding that poll() applies to what it reads, with each event's
    // timestamp in milliseconds of a steady clock; also the way in for
    // recorded events where there is no keyboard.
    void handleEvents(const PmEvent* events, int count);

    bool isOpen() const { return m_pStream != nullptr || m_eventFile >= 0; }
    // The open input's name; empty when none is open.
    QString name() const { return isOpen() ? m_name : QString(); }
    bool isPortMidiInitialised() const { return m_bInitialised; }
    bool inSysex() const { return m_bInSysex; }
    // Why no keyboard plays, after open(); empty when one is open or none chosen.
    QString problem() const { return m_problem; }

    struct MidiPort
    {
        int id;
        QString name;
        bool input;
    };
    // The ports PortMidi lists now.
    static QList<MidiPort> ports();
    // The input port a "MidiDevice" setting ("3. USB Keyboard") names among
    // `ports`: the stored number if that input has the stored name, else the
    // first input of that name; -1 when it is not there.
    static int findPort(const QString& setting, const QList<MidiPort>& ports);
    // The name in an entry ("3. USB Keyboard" -> "USB Keyboard").
    static QString deviceName(const QString& entry);

    // "%1. %2" for every input device PortMidi knows.
    static QStringList listInputDevices();
    // The number in front of an entry ("3. Keyboard" -> 3); 0 when there is none.
    static int parseDeviceId(const QString& entry);

    MidiInputDevice(const MidiInputDevice&) = delete;
    MidiInputDevice& operator=(const MidiInputDevice&) = delete;

private:
    void handleEvent(const PmEvent& event);
    bool runsControl(int status, int data1, int data2, PmTimestamp at);
    bool openEventFile();
    int readEventFile();
    void noteOn(int note, int velocity);
    void noteOff(int note);

    ZubEngine* m_pEngine;
    NativeJsBridge* m_pBridge;
    PortMidiStream* m_pStream = nullptr;
    PmEvent m_buffer[MIDI_EVENT_BUFFER];
    bool m_bInSysex = false;
    bool m_bInitialised = false;
    QString m_problem;
    QString m_name;
    // Notes this input turned on: their note-offs reach the engine even after
    // the playing channel changed.
    std::bitset<128> m_sounding;
    int m_eventFile = -1;
    QByteArray m_pendingText;
};
