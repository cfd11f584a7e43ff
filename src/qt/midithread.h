#pragma once

#include <QThread>
#include <atomic>

class MidiInputDevice;
class ZubEngine;

// Polls the MIDI keyboard every 10 ms and plays what it reads on the engine;
// with none open it does not poll.
// A new device choice deletes the thread and creates another.
class MidiThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int POLL_INTERVAL_MS = 10;

    // Opens the device on the calling (GUI) thread, then starts polling.
    explicit MidiThread(ZubEngine* engine);
    // Stops polling and waits for it before the device is closed.
    ~MidiThread() override;

    MidiInputDevice* device() const { return m_pDevice; }

protected:
    void run() override;

private:
    MidiInputDevice* m_pDevice;
    // Written by the GUI thread, read by the MIDI thread.
    std::atomic<bool> m_bStop { false };
};
