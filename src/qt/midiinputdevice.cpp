#include "qt/midiinputdevice.h"

#include "core/nativejsbridge.h"
#include "engine/zubengine.h"
#include "qt/qtloghandler.h"
#include "qt/settings.h"

#include <QDebug>
#include <QObject>
#include <string>

namespace {

constexpr int kNoteOff = 0x80;
constexpr int kNoteOn = 0x90;
constexpr int kSysexStart = 0xF0;
constexpr int kSysexEnd = 0xF7;

// PortMidi has no way to ask whether it is initialised; the GUI thread is the
// only one that initialises or terminates it.
int s_initialisedDevices = 0;

bool logError(PmError e)
{
    if (e >= pmNoError)
        return false;
    qDebug() << "PortMidi error:" << Pm_GetErrorText(e);
    return true;
}

// PortMidi packs sysex data four bytes to a word, so the end byte can be in
// any of them, the top one included.
bool holdsSysexEnd(PmMessage message, int fromByte)
{
    for (int i = fromByte; i < 4; ++i)
        if (((message >> (8 * i)) & 0xFF) == kSysexEnd)
            return true;
    return false;
}

} // namespace

MidiInputDevice::MidiInputDevice(ZubEngine* engine)
    : m_pEngine(engine)
    , m_pBridge(engine ? engine->jsBridge() : nullptr)
{
}

MidiInputDevice::~MidiInputDevice()
{
    close();
    if (m_bInitialised) {
        --s_initialisedDevices;
        Pm_Terminate();
    }
}

int MidiInputDevice::parseDeviceId(const QString& entry)
{
    return entry.section('.', 0, 0).toInt();
}

QString MidiInputDevice::deviceName(const QString& entry)
{
    return entry.section(". ", 1);
}

int MidiInputDevice::findPort(const QString& setting, const QList<MidiPort>& ports)
{
    const int stored = parseDeviceId(setting);
    const QString name = deviceName(setting);
    if (name.isEmpty()) {
        // A bare number, or nothing stored: the number, if it is an input.
        for (const MidiPort& port : ports)
            if (port.id == stored && port.input)
                return port.id;
        return -1;
    }
    // A keyboard plugged in again may come back under another number.
    for (const MidiPort& port : ports)
        if (port.id == stored && port.input && port.name == name)
            return port.id;
    for (const MidiPort& port : ports)
        if (port.input && port.name == name)
            return port.id;
    return -1;
}

QList<MidiInputDevice::MidiPort> MidiInputDevice::ports()
{
    QList<MidiPort> found;
    const int count = Pm_CountDevices();
    for (int i = 0; i < count; ++i)
        if (const PmDeviceInfo* info = Pm_GetDeviceInfo(i))
            found.append({ i, QString::fromUtf8(info->name), info->input != 0 });
    return found;
}

void MidiInputDevice::open()
{
    const QString setting = Settings::instance().value("MidiDevice");
    if (setting == "None")
        return;
    qCDebug(motifoDebug) << "MidiDevice: Parsed devId" << parseDeviceId(setting);
    if (const PmError e = Pm_Initialize(); e < pmNoError) {
        logError(e);
        m_problem = QObject::tr("No MIDI keyboard: %1").arg(QString::fromUtf8(Pm_GetErrorText(e)));
        return;
    }
    m_bInitialised = true;
    ++s_initialisedDevices;

    PmDeviceID id = findPort(setting, ports());
    if (id < 0 && !deviceName(setting).isEmpty()) {
        // The chosen keyboard is not there: another port would play what
        // the musician did not choose.
        m_problem = QObject::tr("No MIDI keyboard: %1 is not connected").arg(deviceName(setting));
        qDebug().noquote() << m_problem;
        return;
    }
    if (id < 0)
        id = Pm_GetDefaultInputDeviceID();
    const PmDeviceInfo* info = id == pmNoDevice ? nullptr : Pm_GetDeviceInfo(id);
    if (!info)
        return;
    qDebug() << "Opening" << info->name;
    m_name = QString::fromUtf8(info->name);
    if (const PmError e = Pm_OpenInput(&m_pStream, id, nullptr, MIDI_EVENT_BUFFER, nullptr, nullptr); e < pmNoError) {
        logError(e);
        m_pStream = nullptr;
        m_problem = QObject::tr("No MIDI keyboard: %1: %2").arg(QString::fromUtf8(info->name), QString::fromUtf8(Pm_GetErrorText(e)));
    }
}

void MidiInputDevice::close()
{
    if (!m_pStream)
        return;
    logError(Pm_Close(m_pStream));
    m_pStream = nullptr;
}

void MidiInputDevice::poll()
{
    if (!m_pStream)
        return;
    const int n = Pm_Read(m_pStream, m_buffer, MIDI_EVENT_BUFFER);
    if (n < 1)
        return;
    handleEvents(m_buffer, n);
}

void MidiInputDevice::handleEvents(const PmEvent* events, int count)
{
    for (int i = 0; i < count; ++i)
        handleEvent(events[i].message);
}

void MidiInputDevice::handleEvent(PmMessage message)
{
    const int status = Pm_MessageStatus(message);
    const int data1 = Pm_MessageData1(message);
    const int data2 = Pm_MessageData2(message);
    if (m_bInSysex) {
        if (holdsSysexEnd(message, 0)) {
            m_bInSysex = false;
            qCDebug(motifoDebug) << "sysex finished!";
        }
    } else if (status == kNoteOn && data2 != 0) {
        noteOn(data1, data2);
    } else if (status == kNoteOff || (status == kNoteOn && data2 == 0)) {
        noteOff(data1);
    } else if (status == kSysexStart) {
        // A short sysex can start and end in the same word.
        m_bInSysex = !holdsSysexEnd(message, 1);
    }
}

void MidiInputDevice::noteOn(int note, int velocity)
{
    if (m_pEngine)
        m_pEngine->noteOn(note, velocity);
    if (m_pBridge)
        m_pBridge->postMessage("{ \"keyboard\" : { \"note_on\" : \"" + std::to_string(note) + "\" } }");
}

void MidiInputDevice::noteOff(int note)
{
    if (m_pEngine)
        m_pEngine->noteOff(note);
    if (m_pBridge)
        m_pBridge->postMessage("{ \"keyboard\" : { \"note_off\" : \"" + std::to_string(note) + "\" } }");
}

QStringList MidiInputDevice::listInputDevices()
{
    // Listing needs PortMidi; leave it as it was found.
    const bool borrow = s_initialisedDevices == 0;
    if (borrow && logError(Pm_Initialize()))
        return {};
    QStringList list;
    for (const MidiPort& port : ports())
        if (port.input)
            list << QString("%1. %2").arg(port.id).arg(port.name);
    if (borrow)
        Pm_Terminate();
    return list;
}
