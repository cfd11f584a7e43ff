#pragma once

#include <QProcess>
#include <QString>
#include <functional>
#include <vector>

class AudioDeviceEnumerator;

// A real JACK server with the dummy driver: a real audio clock without a
// sound card. Each server has a name of its own while it lives.
class JackServer
{
public:
    JackServer();
    ~JackServer();

    // Where jackd is missing the audio tests skip; anywhere else a server
    // that will not start fails them.
    static bool installed();
    // Starts jackd and waits until clients can connect. A plain server waits
    // for slow clients, so a loaded machine delays a recording instead of
    // dropping periods. A realtime one keeps the period's deadline and names
    // every client that missed it (xruns).
    enum Timing { Waiting, Realtime };
    bool start(int sampleRate = 44100, int period = 256, Timing timing = Waiting);
    // Ends the server the way its user would (SIGTERM) and waits for it to
    // go; start() brings one up again under the same name.
    void stop();
    QString error() const { return m_error; }
    // Stores PortAudio's entry for the server's output as the program's
    // audio device and returns it; empty, with nothing stored, where
    // PortAudio lists none (an enumerator made before the server was up).
    static QString chooseAsOutput(AudioDeviceEnumerator& enumerator);
    const QString& name() const { return m_name; }

    // Deadlines the client ("motifo", "tone") missed since the server started.
    int xruns(const QString& client);
    // What the server wrote since it started.
    QString log();

    // The ports whose names start with prefix ("motifo:").
    QStringList ports(const QString& prefix) const;

    // Records the given ports with jack_capture for `seconds` and returns the
    // interleaved float frames, or an empty vector on failure.
    // When given, `started` runs once jack_capture listens, so that what it
    // starts is recorded from its beginning.
    std::vector<float> capture(const QStringList& ports, double seconds, const QString& dir,
        const std::function<void()>& started = {});

private:
    static constexpr int kNames = 6; // as many as the page tests share
    bool takeName();
    bool startOnce(int sampleRate, int period, Timing timing);

    QString m_name; // empty until the first start
    int m_lockFd = -1;
    QProcess m_jackd;
    QString m_error;
    QString m_log;
};
