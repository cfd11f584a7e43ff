#include "qt/quitsignals.h"

#include <QDebug>

#include <array>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::array kSignals { SIGTERM, SIGINT, SIGHUP };
// [0] is written by the handler, [1] read on the GUI thread.
int g_sockets[2] = { -1, -1 };

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_sockets) != 0) {
        qWarning() << "Signals end the program at once: no socket for them";
        return;
    }
    m_pNotifier = new QSocketNotifier(g_sockets[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &QuitSignals::readSignal);
    struct sigaction action = {};
    action.sa_handler = &QuitSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
    for (int& fd : g_sockets) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

// Signal context: only async-signal-safe calls.
void QuitSignals::handle(int signal)
{
    const char number = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_sockets[0], &number, 1);
}

void QuitSignals::readSignal()
{
    char number = 0;
    if (::read(g_sockets[1], &number, 1) != 1)
        return;
    // A second signal ends the program at once, should the orderly end hang.
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
    emit received(number);
}
