#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// One Motifo per user: a later launch hands its songs to the running program
// over a local socket in the user's runtime folder and ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString& socketPath = defaultSocketPath(), QObject* parent = nullptr);

    // Hands the songs (possibly none) to a running Motifo; true when it took
    // them. Otherwise this one starts answering later launches.
    bool handOverOrListen(const QStringList& songs);
    bool isListening() const;

    static QString defaultSocketPath();

signals:
    // A later launch, with the songs it was given (possibly none).
    void launched(const QStringList& songs);

private:
    bool handOver(const QStringList& songs);
    bool listen();
    void answer(QLocalSocket* socket);

    QString m_socketPath;
    QLocalServer* m_pServer = nullptr;
};
