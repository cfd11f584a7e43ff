#include "qt/midiinputdevice.h"

#include "core/jsonfield.h"
#include "core/midimessage.h"
#include "core/nativejsbridge.h"
#include "engine/zubengine.h"
#include "qt/qtloghandler.h"
#include "qt/settings.h"

#include <QDebug>
#include <QObject>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

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

PmTimestamp steadyMilliseconds()
{
    using namespace std::chrono;
    return PmTimestamp(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
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
    if (openEventFile())
        return;
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
    if (m_eventFile >= 0)
        ::close(m_eventFile);
    m_eventFile = -1;
    if (!m_pStream)
        return;
    logError(Pm_Close(m_pStream));
    m_pStream = nullptr;
}

bool MidiInputDevice::openEventFile()
{
    const QByteArray path = qgetenv("MOTIFO_MIDI_EVENTS");
    if (path.isEmpty())
        return false;
    m_eventFile = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_eventFile < 0) {
        m_problem = QObject::tr("No MIDI keyboard: cannot read %1").arg(QString::fromLocal8Bit(path));
        qDebug().noquote() << m_problem;
        return true;
    }
    m_name = "Recorded events";
    qDebug() << "Reading MIDI events from" << path;
    return true;
}

// The whole lines appended since the last read, into the event buffer.
int MidiInputDevice::readEventFile()
{
    char chunk[1024];
    const ssize_t n = ::read(m_eventFile, chunk, sizeof chunk);
    if (n > 0)
        m_pendingText.append(chunk, int(n));
    int count = 0;
    qsizetype end;
    while (count < MIDI_EVENT_BUFFER && (end = m_pendingText.indexOf('\n')) >= 0) {
        const QList<QByteArray> bytes = m_pendingText.left(end).simplified().split(' ');
        m_pendingText.remove(0, end + 1);
        int b[3] = { 0, 0, 0 };
        for (int i = 0; i < 3 && i < bytes.size(); ++i)
            b[i] = bytes[i].toInt(nullptr, 16) & 0xFF;
        if (b[0] != 0)
            m_buffer[count++].message = Pm_Message(b[0], b[1], b[2]);
    }
    return count;
}

void MidiInputDevice::poll()
{
    int n = 0;
    if (m_eventFile >= 0)
        n = readEventFile();
    else if (m_pStream)
        n = Pm_Read(m_pStream, m_buffer, MIDI_EVENT_BUFFER);
    if (n < 1)
        return;
    // No PortMidi time source runs: the events are stamped as they are read.
    const PmTimestamp now = steadyMilliseconds();
    for (int i = 0; i < n; ++i)
        m_buffer[i].timestamp = now;
    handleEvents(m_buffer, n);
}

void MidiInputDevice::handleEvents(const PmEvent* events, int count)
{
    for (int i = 0; i < count; ++i)
        handleEvent(events[i]);
}

void MidiInputDevice::handleEvent(const PmEvent& event)
{
    const PmMessage message = event.message;
    const int status = Pm_MessageStatus(message);
    const int data1 = Pm_MessageData1(message);
    const int data2 = Pm_MessageData2(message);
    if (m_bInSysex) {
        if (holdsSysexEnd(message, 0)) {
            m_bInSysex = false;
            qCDebug(motifoDebug) << "sysex finished!";
        }
        return;
    }
    if (status == kSysexStart) {
        // A short sysex can start and end in the same word.
        m_bInSysex = !holdsSysexEnd(message, 1);
        return;
    }
    if (m_pEngine && runsControl(status, data1, data2, event.timestamp))
        return;
    const int command = status & MIDI_KIND_MASK;
    const int channel = status & 0x0F;
    const bool playing = channel == (m_pEngine ? m_pEngine->midiMap().playChannel() : 0);
    if (command == MIDI_NOTE_ON && data2 != 0) {
        if (playing)
            noteOn(data1, data2);
    } else if (command == MIDI_NOTE_OFF || command == MIDI_NOTE_ON) {
        if (playing || (data1 < int(m_sounding.size()) && m_sounding.test(data1)))
            noteOff(data1);
    }
}

// A bound or learnt control runs its action on the page, never the instrument.
bool MidiInputDevice::runsControl(int status, int data1, int data2, PmTimestamp at)
{
    const MidiMap::Outcome outcome = m_pEngine->midiMap().handle(status, data1, data2, at);
    if (!m_pBridge)
        return outcome.consumed;
    // The page's action runs on the GUI thread: postMessage crosses over.
    if (outcome.learnt) {
        Json::Value root(Json::objectValue);
        m_pEngine->midiMap().toJson(root);
        m_pBridge->postMessage(JsonField::styled(root));
    }
    if (!outcome.action.empty())
        m_pBridge->postMessage("{ \"midi_map\" : { \"action\" : \"" + outcome.action + "\" } }");
    return outcome.consumed;
}

void MidiInputDevice::noteOn(int note, int velocity)
{
    if (note < int(m_sounding.size()))
        m_sounding.set(note);
    if (m_pEngine)
        m_pEngine->noteOn(note, velocity);
    if (m_pBridge)
        m_pBridge->postMessage("{ \"keyboard\" : { \"note_on\" : \"" + std::to_string(note) + "\" } }");
}

void MidiInputDevice::noteOff(int note)
{
    if (note < int(m_sounding.size()))
        m_sounding.reset(note);
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
