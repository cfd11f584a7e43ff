#include "qt/singleinstance.h"

#include "waitfor.h"

#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>

namespace {

// The running Motifo: an instance that answers from an event loop of its own
// thread, as the first program does from its main loop.
class RunningInstance
{
public:
    explicit RunningInstance(const QString& socketPath)
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_context,
            [this, socketPath] {
                m_pInstance = new SingleInstance(socketPath);
                m_bFirst = !m_pInstance->handOverOrListen({});
                QObject::connect(m_pInstance, &SingleInstance::launched, [this](const QStringList& songs) {
                    std::lock_guard lock(m_mutex);
                    m_launches << songs;
                });
            },
            Qt::BlockingQueuedConnection);
    }
    ~RunningInstance()
    {
        QMetaObject::invokeMethod(&m_context, [this] { delete m_pInstance; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool wasFirst() const { return m_bFirst; }
    QList<QStringList> launches()
    {
        std::lock_guard lock(m_mutex);
        return m_launches;
    }

private:
    QThread m_thread;
    QObject m_context; // lives in m_thread
    SingleInstance* m_pInstance = nullptr;
    bool m_bFirst = false;
    std::mutex m_mutex;
    QList<QStringList> m_launches;
};

class SingleInstanceTest : public ::testing::Test
{
protected:
    QString socketPath() const { return m_dir.path() + "/motifo.socket"; }
    QTemporaryDir m_dir;
};

TEST_F(SingleInstanceTest, ALaterLaunchHandsItsSongsToTheRunningOne)
{
    RunningInstance running(socketPath());
    ASSERT_TRUE(running.wasFirst());
    // Paths keep every character a file name may hold.
    const QStringList songs = { m_dir.path() + "/My Song #2 (ünïcode).zub", m_dir.path() + "/line\nfeed%20.zub" };
    SingleInstance later(socketPath());
    EXPECT_TRUE(later.handOverOrListen(songs));
    EXPECT_FALSE(later.isListening());
    SingleInstance plainLaunch(socketPath());
    EXPECT_TRUE(plainLaunch.handOverOrListen({}));
    ASSERT_TRUE(waitFor([&] { return running.launches().size() == 2; }, 10000));
    EXPECT_EQ(running.launches()[0], songs);
    EXPECT_EQ(running.launches()[1], QStringList());
}

TEST_F(SingleInstanceTest, ASocketLeftByAnEndedProgramIsTakenOver)
{
    QFile leftOver(socketPath());
    ASSERT_TRUE(leftOver.open(QIODevice::WriteOnly));
    leftOver.close();
    SingleInstance first(socketPath());
    EXPECT_FALSE(first.handOverOrListen({ "/tmp/a.zub" }));
    EXPECT_TRUE(first.isListening());
}

TEST_F(SingleInstanceTest, AnOversizedRequestIsRefused)
{
    RunningInstance running(socketPath());
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(QByteArray(100000, 'x'));
    EXPECT_TRUE(socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(10000));
    EXPECT_TRUE(running.launches().isEmpty());
}

} // namespace
