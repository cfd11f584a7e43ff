#include "qt/zubapp.h"

#include "core/log.h"
#include "core/logfile.h"
#include "core/recordingbuffer.h"
#include "engine/enginecontext.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/autosave.h"
#include "qt/commandline.h"
#include "qt/deviceproblems.h"
#include "qt/installlayout.h"
#include "qt/liveinput.h"
#include "qt/midiinputdevice.h"
#include "qt/midimapsettings.h"
#include "qt/midithread.h"
#include "qt/qtloghandler.h"
#include "qt/quitsignals.h"
#include "qt/settings.h"
#include "qt/singleinstance.h"
#include "qt/zubui.h"
#include "qt/zubwebview.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEngineProfile>
#include <algorithm>

namespace {

// "ALSA device "default" at 44100 Hz, 1024 frames per buffer" for the log.
QString describeOutput(PaDeviceIndex device, int rate, int bufferFrames, bool started)
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info)
        return "none";
    const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
    return QString("%1 device \"%2\" at %3 Hz, %4 frames per buffer%5")
        .arg(host ? host->name : "unknown host API", info->name)
        .arg(rate)
        .arg(bufferFrames)
        .arg(started ? "" : " (it did not start)");
}

} // namespace

ZubApp::ZubApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    QtLogHandler::install();
    setIdentity();
    // Before anything starts: a Motifo that already runs may take the songs.
    const QStringList songs = CommandLine::songs(arguments());
    m_pInstance = new SingleInstance(SingleInstance::defaultSocketPath(), this);
    if (m_pInstance->handOverOrListen(songs)) {
        m_bHandedOver = true;
        return;
    }
    startLog();
    findResources();
    if (Settings::instance().value("version") != MOTIFO_VERSION) {
        qDebug() << "First run Qt4";
        m_bFirstRun = true;
        Settings::instance().setValue("version", MOTIFO_VERSION);
    }
    m_pEnumerator = new AudioDeviceEnumerator;
    // Chromium's browser side starts with the first profile (tens of
    // milliseconds): now, while PortAudio starts on its own thread, so that
    // the page loads sooner.
    QWebEngineProfile::defaultProfile();
    m_pLiveInput = new LiveInput(m_pEnumerator);
    m_pEngineContext = new EngineContext(m_pLiveInput);
    MidiMapSettings::attach(m_pEngineContext->engine()->midiMap(), this);
    // The one instrument's buffer: it reads it whenever it is a live input.
    m_pLiveInput->setRecordingBuffer(m_pEngineContext->engine()->instrument()->recordingBuffer());
    m_pLiveInput->setLatencyProbe(&m_probe);
    m_pLiveInput->setProblemHandler([this](const QString& problem) { reportDevice(DeviceProblems::AudioInput, problem); });
    m_pMainWindow = new ZubUI(m_pEngineContext, this, m_bFirstRun); // shows itself
    connect(new QuitSignals(this), &QuitSignals::received, this, &ZubApp::quitOnSignal);
    openOutput();
    qDebug().noquote() << QString("Motifo %1 with Qt %2 and %3; audio output: %4")
                              .arg(MOTIFO_VERSION, qVersion(), Pa_GetVersionInfo()->versionText, m_outputDescription);
    // Last: the MIDI input copies the page bridge the window registered.
    createMidiThread();
    // Link's tempo, play state and peers are looked at on this thread.
    auto* linkTimer = new QTimer(this);
    connect(linkTimer, &QTimer::timeout, this, [this] { m_pEngineContext->engine()->followLink(); });
    linkTimer->start(LINK_POLL_MS);
    auto* outputTimer = new QTimer(this);
    connect(outputTimer, &QTimer::timeout, this, &ZubApp::watchOutput);
    outputTimer->start(OUTPUT_WATCH_MS);
    connect(m_pInstance, &SingleInstance::launched, this, &ZubApp::openSongs);
    openSongs(songs);
}

ZubApp::~ZubApp()
{
    if (m_bHandedOver)
        return; // nothing else was started
    Settings::instance().save();
    deleteMidiThread();
    MidiMapSettings::detach(m_pEngineContext->engine()->midiMap());
    // Streams stop before anything their callbacks use goes away.
    closeOutput();
    delete m_pLiveInput; // stops the recording device
    delete m_pEnumerator;
    delete m_pMainWindow;
    // The engine lives until the process ends; only its holder goes.
    delete m_pEngineContext;
    Log::setSink(nullptr);
    delete m_pLogFile;
}

void ZubApp::quitOnSignal(int signal)
{
    // Nobody is there to answer a question: the work goes to the recovery
    // copy, which the next start offers, and the streams close as on Quit.
    qDebug() << "Signal" << signal << "ends Motifo; unsaved work is kept in the recovery copy";
    m_pMainWindow->autosave()->writeBeforeExit();
    QCoreApplication::exit(0); // leaves every event loop; no window is asked to close
}

QString ZubApp::logFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void ZubApp::startLog()
{
    m_pLogFile = new LogFile(QFile::encodeName(logFolder()).toStdString());
    Log::setSink(m_pLogFile);
}

void ZubApp::openSongs(const QStringList& songs)
{
    m_pMainWindow->showNormal();
    m_pMainWindow->raise();
    m_pMainWindow->activateWindow();
    if (songs.isEmpty())
        return;
    if (songs.size() > 1)
        qDebug() << "One song at a time: opening" << songs.first();
    // A song opened before the page is up would miss the page's own steps.
    const QString song = songs.first();
    ZubWebView* view = m_pMainWindow->webView();
    if (view->isPageReady())
        m_pMainWindow->openDocument(song);
    else
        connect(view, &ZubWebView::pageReady, m_pMainWindow, [this, song] { m_pMainWindow->openDocument(song); },
            Qt::SingleShotConnection);
}

void ZubApp::setIdentity()
{
    setApplicationName("Motifo");
    setApplicationVersion(MOTIFO_VERSION);
    setOrganizationName("Quavertone");
    setOrganizationDomain("quavertone.invalid");
}

void ZubApp::findResources()
{
    // Content in the working folder comes first; else this copy's own.
    const QStringList candidates = { QDir::currentPath(), InstallLayout::forThisProgram().contentDirectory() };
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
    const int rate = m_pEnumerator->sampleRate();
    ZubEngine* engine = m_pEngineContext->engine();
    m_pOutputDevice = new AudioDevice(engine, nullptr, &params, nullptr, rate);
    // The output tells the live input when each cycle is heard.
    m_pOutputDevice->setLiveInput(engine->instrument()->recordingBuffer());
    m_pOutputDevice->setLatencyProbe(&m_probe);
    const bool ok = m_pOutputDevice->start() == 0;
    engine->setAudioInterface(m_pOutputDevice);
    m_outputDescription = describeOutput(params.device, ok ? m_pOutputDevice->deviceRate() : rate,
        m_pEnumerator->bufferFrames(), ok);
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

void ZubApp::watchOutput()
{
    if (!m_pOutputDevice || !m_pOutputDevice->isLost()) {
        m_lostLooks = 0;
        return;
    }
    // Each JACK client hears of the server's end on a thread of its own: the
    // server's words can reach ours a moment after the stream stopped.
    if (!m_pOutputDevice->knowsLostReason() && ++m_lostLooks < 5)
        return;
    m_lostLooks = 0;
    outputLost();
}

void ZubApp::outputLost()
{
    m_lostOutput = m_pOutputDevice->deviceName();
    m_outputProblem = tr("No audio output: %1 stopped (%2); Motifo plays again when it is back")
                          .arg(m_lostOutput, m_pOutputDevice->lostReason());
    m_lostInput = m_pLiveInput->openEntryName();
    m_pLiveInput->closeRecording();
    closeOutput();
    reportDevice(DeviceProblems::AudioOutput, m_outputProblem);
    m_retryMs = OUTPUT_WATCH_MS;
    QTimer::singleShot(m_retryMs, this, &ZubApp::reopenLostOutput);
}

void ZubApp::reopenLostOutput()
{
    if (m_lostOutput.isEmpty())
        return;
    // An output that plays, chosen meanwhile in the preferences, ends the wait.
    if (m_pOutputDevice && m_outputProblem.isEmpty()) {
        m_lostOutput.clear();
        return;
    }
    closeOutput();
    m_pEnumerator->restart();
    const QStringList outputs = m_pEnumerator->deviceList(1);
    const bool back = std::any_of(outputs.begin(), outputs.end(),
        [this](const QString& e) { return AudioDeviceEnumerator::nameAndHost(e) == m_lostOutput; });
    if (back && openOutput()) {
        qDebug().noquote() << "Audio output" << m_lostOutput << "plays again";
        m_lostOutput.clear();
        if (!m_lostInput.isEmpty())
            m_pLiveInput->openEntry(m_lostInput);
        return;
    }
    m_retryMs = std::min(2 * m_retryMs, OUTPUT_RETRY_MAX_MS);
    QTimer::singleShot(m_retryMs, this, &ZubApp::reopenLostOutput);
}

void ZubApp::createMidiThread()
{
    deleteMidiThread(); // one thread owns PortMidi at a time
    m_pMidiThread = new MidiThread(m_pEngineContext->engine());
    m_midiProblem = m_pMidiThread->device()->problem();
    reportDevice(DeviceProblems::MidiInput, m_midiProblem);
}

QString ZubApp::midiInputName() const
{
    return m_pMidiThread ? m_pMidiThread->device()->name() : QString();
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
