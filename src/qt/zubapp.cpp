#include "qt/zubapp.h"

#include "core/recordingbuffer.h"
#include "engine/enginecontext.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/deviceproblems.h"
#include "qt/liveinput.h"
#include "qt/midiinputdevice.h"
#include "qt/midithread.h"
#include "qt/qtloghandler.h"
#include "qt/settings.h"
#include "qt/zubui.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#ifndef MOTIFO_DATA_DIR
#define MOTIFO_DATA_DIR "/usr/local/share/motifo"
#endif

namespace {
const char* kVersion = "1.0.0";
}

ZubApp::ZubApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    QtLogHandler::install();
    setIdentity();
    findResources();
    if (Settings::instance().value("version") != kVersion) {
        qDebug() << "First run Qt4";
        m_bFirstRun = true;
        Settings::instance().setValue("version", kVersion);
    }
    m_pEnumerator = new AudioDeviceEnumerator;
    m_pLiveInput = new LiveInput(m_pEnumerator);
    m_pEngineContext = new EngineContext(m_pLiveInput);
    // The one instrument's buffer: it reads it whenever it is a live input.
    m_pLiveInput->setRecordingBuffer(m_pEngineContext->engine()->instrument()->recordingBuffer());
    m_pLiveInput->setLatencyProbe(&m_probe);
    m_pLiveInput->setProblemHandler([this](const QString& problem) { reportDevice(DeviceProblems::AudioInput, problem); });
    m_pMainWindow = new ZubUI(m_pEngineContext, this, m_bFirstRun); // shows itself
    openOutput();
    // Last: the MIDI input copies the page bridge the window registered.
    createMidiThread();
}

ZubApp::~ZubApp()
{
    Settings::instance().save();
    deleteMidiThread();
    // Streams stop before anything their callbacks use goes away.
    closeOutput();
    delete m_pLiveInput; // stops the recording device
    delete m_pEnumerator;
    delete m_pMainWindow;
    // The engine lives until the process ends; only its holder goes.
    delete m_pEngineContext;
}

void ZubApp::setIdentity()
{
    setApplicationName("Motifo");
    setApplicationVersion(kVersion);
    setOrganizationName("Quavertone");
    setOrganizationDomain("quavertone.invalid");
}

void ZubApp::findResources()
{
    const QStringList candidates = {
        QDir::currentPath(),
        applicationDirPath(),
        QString(MOTIFO_DATA_DIR),
        applicationDirPath() + "/../share/motifo", // an installation moved elsewhere
    };
    for (const QString& dir : candidates) {
        if (QFileInfo(dir + "/res").isDir()) {
            QDir::setCurrent(dir);
            return;
        }
    }
    qDebug() << "No res directory found; starting without content";
}

bool ZubApp::openOutput()
{
    const PaStreamParameters params = m_pEnumerator->outputParameters();
    ZubEngine* engine = m_pEngineContext->engine();
    m_pOutputDevice = new AudioDevice(engine, nullptr, &params, nullptr, m_pEnumerator->sampleRate());
    // The output tells the live input when each cycle is heard.
    m_pOutputDevice->setLiveInput(engine->instrument()->recordingBuffer());
    m_pOutputDevice->setLatencyProbe(&m_probe);
    const bool ok = m_pOutputDevice->start() == 0;
    engine->setAudioInterface(m_pOutputDevice);
    const QString missing = m_pEnumerator->missingOutput();
    if (ok)
        m_outputProblem.clear();
    else if (!missing.isEmpty())
        m_outputProblem = tr("No audio output: %1 is not there (is its sound server running?)").arg(missing);
    else
        m_outputProblem = tr("No audio output: %1").arg(m_pOutputDevice->lastError());
    // A device playing in place of the chosen one is said as well.
    reportDevice(DeviceProblems::AudioOutput,
        ok && !missing.isEmpty() ? tr("%1 is not there; %2 plays instead").arg(missing, m_pOutputDevice->deviceName())
                                 : m_outputProblem);
    return ok;
}

void ZubApp::closeOutput()
{
    if (!m_pOutputDevice)
        return;
    m_pOutputDevice->stop();
    m_pEngineContext->engine()->setAudioInterface(nullptr);
    delete m_pOutputDevice;
    m_pOutputDevice = nullptr;
}

void ZubApp::createMidiThread()
{
    deleteMidiThread(); // one thread owns PortMidi at a time
    m_pMidiThread = new MidiThread(m_pEngineContext->engine());
    m_midiProblem = m_pMidiThread->device()->problem();
    reportDevice(DeviceProblems::MidiInput, m_midiProblem);
}

void ZubApp::deleteMidiThread()
{
    delete m_pMidiThread;
    m_pMidiThread = nullptr;
}

void ZubApp::reportDevice(int kind, const QString& problem)
{
    if (!problem.isEmpty())
        qDebug().noquote() << problem;
    if (m_pMainWindow && m_pMainWindow->deviceProblems())
        m_pMainWindow->deviceProblems()->set(DeviceProblems::Kind(kind), problem);
}

bool ZubApp::measureLatency(const QString& inputEntry, double& seconds, QString& why)
{
    if (!m_pOutputDevice || !m_outputProblem.isEmpty()) {
        why = tr("There is no audio output to play the click on.");
        return false;
    }
    return m_pLiveInput->measureLatency(inputEntry, seconds, why);
}

void ZubApp::applyLatencyCorrections()
{
    m_pLiveInput->applyCorrection();
}
