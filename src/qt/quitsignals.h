#pragma once

#include <QObject>
#include <QSocketNotifier>

// SIGTERM, SIGINT and SIGHUP (a logout, a terminal closed, `kill`) end the
// program the orderly way instead of at once: a process that just vanishes
// leaves its JACK client behind, and jackd itself can die writing to it,
// taking every other program's audio with it. The handler only writes the
// signal's number to a socket; `received` is emitted on the GUI thread.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent);
    ~QuitSignals() override;

signals:
    void received(int signal);

private:
    static void handle(int signal);
    void readSignal();

    QSocketNotifier* m_pNotifier = nullptr;
};
