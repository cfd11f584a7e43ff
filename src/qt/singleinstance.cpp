#include "qt/singleinstance.h"

#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>
#include <memory>

namespace {

constexpr int kConnectMs = 2000;
// The running program answers from its event loop, which a slow start may hold up.
constexpr int kAnswerMs = 10000;
constexpr qsizetype kMaxRequestBytes = 1 << 16;
const QByteArray kTaken = "ok\n";

// A request: each song as a file URL on a line of its own (any character a
// path may hold survives), then an empty line.
QByteArray request(const QStringList& songs)
{
    QByteArray text;
    for (const QString& song : songs)
        text += QUrl::fromLocalFile(song).toEncoded() + "\n";
    return text + "\n";
}

bool isComplete(const QByteArray& text)
{
    return text == "\n" || text.endsWith("\n\n");
}

QStringList songsIn(const QByteArray& text)
{
    QStringList songs;
    for (const QByteArray& line : text.split('\n'))
        if (!line.isEmpty())
            songs << QUrl::fromEncoded(line).toLocalFile();
    return songs;
}

} // namespace

SingleInstance::SingleInstance(const QString& socketPath, QObject* parent)
    : QObject(parent)
    , m_socketPath(socketPath)
{
}

QString SingleInstance::defaultSocketPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/motifo.socket";
}

bool SingleInstance::handOverOrListen(const QStringList& songs)
{
    // Two launches at once must not both take themselves for the first.
    QLockFile lock(m_socketPath + ".lock");
    lock.tryLock(kAnswerMs);
    if (handOver(songs))
        return true;
    listen();
    return false;
}

bool SingleInstance::isListening() const
{
    return m_pServer && m_pServer->isListening();
}

bool SingleInstance::handOver(const QStringList& songs)
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(kConnectMs))
        return false;
    socket.write(request(songs));
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kConnectMs)) {
    }
    while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerMs)) {
    }
    if (socket.readLine() != kTaken) {
        qDebug() << "The running Motifo did not answer; starting another";
        return false;
    }
    qDebug() << "Handed" << songs << "to the running Motifo";
    return true;
}

bool SingleInstance::listen()
{
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_pServer->listen(m_socketPath)) {
        // Left behind by a Motifo that ended without closing it.
        QLocalServer::removeServer(m_socketPath);
        if (!m_pServer->listen(m_socketPath)) {
            qDebug() << "Later launches cannot reach this Motifo:" << m_pServer->errorString();
            return false;
        }
    }
    connect(m_pServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_pServer->nextPendingConnection())
            answer(socket);
    });
    return true;
}

void SingleInstance::answer(QLocalSocket* socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto received = std::make_shared<QByteArray>();
    auto onData = [this, socket, received] {
        *received += socket->readAll();
        if (received->size() > kMaxRequestBytes) {
            qDebug() << "Refused a launch request of more than" << kMaxRequestBytes << "bytes";
            socket->abort();
            return;
        }
        if (!isComplete(*received))
            return;
        const QStringList songs = songsIn(*received);
        received->clear();
        socket->write(kTaken);
        socket->flush();
        socket->disconnectFromServer();
        // After the answer: opening a song may ask a question first.
        QMetaObject::invokeMethod(this, [this, songs] { emit launched(songs); }, Qt::QueuedConnection);
    };
    connect(socket, &QLocalSocket::readyRead, this, onData);
    if (socket->bytesAvailable() > 0)
        onData();
}
