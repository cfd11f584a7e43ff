#include "qt/midithread.h"

#include "qt/midiinputdevice.h"

MidiThread::MidiThread(ZubEngine* engine)
    : m_pDevice(new MidiInputDevice(engine))
{
    m_pDevice->open();
    start(QThread::InheritPriority);
}

MidiThread::~MidiThread()
{
    m_bStop = true;
    wait();
    m_pDevice->close();
    delete m_pDevice;
}

void MidiThread::run()
{
    // No keyboard open: nothing to read until a new choice makes a new thread.
    if (!m_pDevice->isOpen())
        return;
    while (!m_bStop) {
        m_pDevice->poll();
        QThread::msleep(POLL_INTERVAL_MS);
    }
}
