#include "qt/liveinput.h"

#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"

#include <QDebug>

LiveInput::LiveInput(AudioDeviceEnumerator* enumerator)
    : m_pEnumerator(enumerator)
{
}

LiveInput::~LiveInput()
{
    closeRecording();
}

void LiveInput::openRecording(int position)
{
    // Two streams would both write the instrument's single-writer buffer.
    closeRecording();
    const int index = m_pEnumerator->inputDeviceIndex(position);
    const PaStreamParameters params = m_pEnumerator->inputParameters(index);
    m_pRecordingDevice = new AudioDevice(nullptr, m_pRecordingEngine, nullptr, &params, m_pEnumerator->sampleRate());
    qDebug() << "Opening recording device with PA id:" << index;
    m_pRecordingDevice->start();
}

void LiveInput::closeRecording()
{
    if (!m_pRecordingDevice)
        return;
    m_pRecordingDevice->stop();
    delete m_pRecordingDevice;
    m_pRecordingDevice = nullptr;
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
}
