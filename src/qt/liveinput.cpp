#include "qt/liveinput.h"

#include "core/recordingbuffer.h"
#include "core/zubtypes.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/latencyprobe.h"
#include "qt/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// One JSON object of "name (host)" -> milliseconds: device names are no XML
// element names.
const char* kCorrections = "InputLatencyCorrections";
}

LiveInput::LiveInput(AudioDeviceEnumerator* enumerator)
    : m_pEnumerator(enumerator)
{
}

LiveInput::~LiveInput()
{
    closeRecording();
}

bool LiveInput::openRecording(int position)
{
    // Two streams would both write the instrument's single-writer buffer.
    closeRecording();
    const int index = m_pEnumerator->inputDeviceIndex(position);
    const PaStreamParameters params = m_pEnumerator->inputParameters(index);
    m_pRecordingDevice = new AudioDevice(nullptr, m_pRecordingBuffer, nullptr, &params, m_pEnumerator->sampleRate());
    m_pRecordingDevice->setLatencyProbe(m_pProbe);
    qDebug() << "Opening recording device with PA id:" << index;
    m_openEntry = m_pEnumerator->inputDeviceEntries().value(position);
    m_openPosition = position;
    applyCorrection();
    const bool ok = m_pRecordingDevice->start() == 0;
    if (m_problemHandler)
        m_problemHandler(ok ? QString() : QObject::tr("No live input: %1").arg(m_pRecordingDevice->lastError()));
    return ok;
}

bool LiveInput::openEntry(const QString& entry)
{
    const int position = int(m_pEnumerator->inputDeviceEntries().indexOf(entry));
    if (position < 0) {
        closeRecording();
        if (m_problemHandler)
            m_problemHandler(QObject::tr("No live input: %1 is not connected").arg(entry));
        return false;
    }
    return openRecording(position);
}

void LiveInput::closeRecording()
{
    if (!m_pRecordingDevice)
        return;
    m_pRecordingDevice->stop();
    delete m_pRecordingDevice;
    m_pRecordingDevice = nullptr;
    m_openEntry.clear();
    m_openPosition = -1;
}

std::vector<std::string> LiveInput::inputDeviceNames()
{
    return m_pEnumerator->inputDeviceNames();
}

void LiveInput::setRecordingDevice(int position)
{
    closeRecording();
    if (position >= 0)
        openRecording(position);
    else if (m_problemHandler)
        m_problemHandler(QString());
}

double LiveInput::correctionMs(const QString& entry)
{
    const QJsonObject all = QJsonDocument::fromJson(Settings::instance().value(kCorrections).toUtf8()).object();
    return all.value(entry).toDouble(0.0);
}

void LiveInput::setCorrectionMs(const QString& entry, double ms)
{
    QJsonObject all = QJsonDocument::fromJson(Settings::instance().value(kCorrections).toUtf8()).object();
    all.insert(entry, ms);
    Settings::instance().setValue(kCorrections, QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Compact)));
}

void LiveInput::applyCorrection()
{
    if (m_pRecordingBuffer)
        m_pRecordingBuffer->setCorrectionFrames(std::llround(correctionMs(m_openEntry) * ZUB_SAMPLE_RATE / 1000.0));
}

bool LiveInput::measureOnce(double& seconds)
{
    m_pProbe->arm();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 2000) {
        if (m_pProbe->result(seconds))
            return true;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    // An output that stood still would otherwise click whenever it plays again.
    m_pProbe->disarm();
    return false;
}

bool LiveInput::measureLatency(const QString& entry, double& seconds, QString& why)
{
    if (!m_pProbe) {
        why = QObject::tr("Nothing plays the click.");
        return false;
    }
    const int before = m_openPosition;
    const bool borrowed = m_openEntry != entry;
    if (borrowed && !openEntry(entry)) {
        why = m_pRecordingDevice ? m_pRecordingDevice->lastError() : QObject::tr("%1 is not connected.").arg(entry);
        setRecordingDevice(before);
        return false;
    }
    // The middle of three, so that one stray sound does not decide.
    std::vector<double> found;
    for (int i = 0; i < 3; ++i) {
        double s = 0.0;
        if (measureOnce(s))
            found.push_back(s);
    }
    if (borrowed)
        setRecordingDevice(before);
    if (found.empty()) {
        why = QObject::tr("The click did not come back on %1. Connect the output to this input and measure again.").arg(entry);
        return false;
    }
    std::sort(found.begin(), found.end());
    seconds = found[found.size() / 2];
    return true;
}
