#include "jackserver.h"

#include "qt/audiodeviceenumerator.h"
#include "qt/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

JackServer::JackServer()
{
    qputenv("JACK_NO_AUDIO_RESERVATION", "1");
}

JackServer::~JackServer()
{
    stop();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

// JACK keeps a registry of eight server names, and a server that dies without
// ending cleanly keeps its entry until a server of the same name starts
// again. So test servers (the page tests' too) take their names from a small
// fixed set, each held by a lock for the server's life, and the next server
// of that name takes a dead one's entry back.
bool JackServer::takeName()
{
    const QString folder = QDir::tempPath() + QString("/motifo-jack-%1").arg(::getuid());
    QDir().mkpath(folder);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        for (int slot = 0; slot < kNames; ++slot) {
            const QString name = QString("motifo-test-%1").arg(slot);
            // Not closed on exec: jackd inherits the lock, so a server that
            // outlives this process still holds its name.
            const int fd = ::open(QFile::encodeName(folder + "/" + name + ".lock").constData(), O_RDWR | O_CREAT, 0666);
            if (fd < 0)
                continue;
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                m_lockFd = fd;
                m_name = name;
                // Both our PortAudio client and jack_capture find the server by this name.
                qputenv("JACK_DEFAULT_SERVER", m_name.toUtf8());
                return true;
            }
            ::close(fd);
        }
        QThread::msleep(100); // every name is another test's: wait for one to end
    }
    m_error = QString("every JACK server name (motifo-test-0..%1) stayed taken for a minute").arg(kNames - 1);
    return false;
}

void JackServer::stop()
{
    if (m_jackd.state() != QProcess::NotRunning) {
        m_jackd.terminate();
        if (!m_jackd.waitForFinished(5000))
            m_jackd.kill();
        m_jackd.waitForFinished(2000);
    }
}

QString JackServer::chooseAsOutput(AudioDeviceEnumerator& enumerator)
{
    QString chosen;
    for (const QString& entry : enumerator.deviceList(1))
        if (entry.contains("(JACK Audio Connection Kit)"))
            chosen = entry;
    if (!chosen.isEmpty())
        Settings::instance().setValue("AudioDevice", chosen);
    return chosen;
}

bool JackServer::installed()
{
    return !QStandardPaths::findExecutable("jackd").isEmpty();
}

bool JackServer::start(int sampleRate, int period, Timing timing)
{
    if (!installed()) {
        m_error = "jackd is not installed";
        return false;
    }
    if (m_lockFd < 0 && !takeName())
        return false;
    // Two servers starting in the same instant can trip over JACK's shared
    // registry; a second attempt then succeeds.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (startOnce(sampleRate, period, timing))
            return true;
    return false;
}

bool JackServer::startOnce(int sampleRate, int period, Timing timing)
{
    if (m_jackd.state() != QProcess::NotRunning) {
        m_jackd.kill();
        m_jackd.waitForFinished(2000);
    }
    m_jackd.setProcessChannelMode(QProcess::MergedChannels);
    // Synchronous mode with a long client timeout: the server waits for every
    // client each period, so a loaded machine delays the recording instead of
    // dropping periods from it.
    const QStringList mode = timing == Realtime ? QStringList { "-R" }
                                                : QStringList { "--no-realtime", "-S", "-t", "5000" };
    m_log.clear();
    m_jackd.start("jackd", mode + QStringList { "-n", m_name, "-d", "dummy", "-r", QString::number(sampleRate), "-p",
                                                 QString::number(period) });
    if (!m_jackd.waitForStarted(5000)) {
        m_error = "jackd did not start: " + m_jackd.errorString();
        return false;
    }
    QProcess wait;
    wait.start("jack_wait", { "-s", m_name, "-w", "-t", "10" });
    wait.waitForFinished(15000);
    if (wait.exitCode() != 0 || m_jackd.state() != QProcess::Running) {
        m_error = "jackd is not answering: " + QString::fromLocal8Bit(m_jackd.readAll());
        return false;
    }
    return true;
}

QString JackServer::log()
{
    // No event loop runs here: take what the server wrote so far.
    while (m_jackd.waitForReadyRead(100))
        m_log += QString::fromLocal8Bit(m_jackd.readAll());
    m_log += QString::fromLocal8Bit(m_jackd.readAll());
    return m_log;
}

int JackServer::xruns(const QString& client)
{
    return log().count(QString("XRun: client = %1 was not finished").arg(client));
}

QStringList JackServer::ports(const QString& prefix) const
{
    // A client can fail to connect while other servers on the machine start
    // or stop (they share JACK's registry): only an answer counts.
    QProcess lsp;
    for (int attempt = 0; attempt < 10; ++attempt) {
        lsp.start("jack_lsp", { "-s", m_name });
        if (lsp.waitForFinished(10000) && lsp.exitStatus() == QProcess::NormalExit && lsp.exitCode() == 0)
            break;
        qWarning() << "jack_lsp failed:" << lsp.readAllStandardError();
        QThread::msleep(200);
    }
    QStringList found;
    for (const QString& line : QString::fromLocal8Bit(lsp.readAllStandardOutput()).split('\n'))
        if (line.startsWith(prefix))
            found << line.trimmed();
    return found;
}

std::vector<float> JackServer::capture(const QStringList& ports, double seconds, const QString& dir,
    const std::function<void()>& started)
{
    const QString wav = dir + "/capture.wav";
    const QString raw = dir + "/capture.f32";
    QFile::remove(wav);
    QStringList args = { "--daemon", "-c", QString::number(ports.size()), "-d", QString::number(seconds) };
    for (const QString& p : ports)
        args << "--port" << p;
    args << wav;
    QProcess cap;
    cap.start("jack_capture", args);
    if (started) {
        // Its ports are there once it records.
        QElapsedTimer waited;
        waited.start();
        while (this->ports("jack_capture").isEmpty() && waited.elapsed() < 20000 && cap.state() != QProcess::NotRunning)
            QThread::msleep(10);
        started();
    }
    if (!cap.waitForFinished(int(seconds * 1000) + 20000) || cap.exitCode() != 0)
        return {};
    QProcess sox;
    sox.start("sox", { wav, "-t", "f32", raw });
    if (!sox.waitForFinished(20000) || sox.exitCode() != 0)
        return {};
    QFile f(raw);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    std::vector<float> out(bytes.size() / sizeof(float));
    std::memcpy(out.data(), bytes.constData(), out.size() * sizeof(float));
    return out;
}
