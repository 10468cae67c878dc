#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t g_writeFd = -1;

extern "C" void onTerminationSignal(int signalNumber) {
    // Only what is safe in a handler: one write, errno left as it was. A full pair (signals
    // arriving faster than the event loop reads) loses nothing that matters: one is enough.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_writeFd >= 0) {
        const ssize_t written = ::write(g_writeFd, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0) {
        qWarning("Tavelo: cannot create the socket pair for SIGTERM, SIGINT and SIGHUP: %s", std::strerror(errno));
        m_fds[0] = m_fds[1] = -1;
        return;
    }
    // The handler must never block, whatever the event loop is doing.
    ::fcntl(m_fds[1], F_SETFL, ::fcntl(m_fds[1], F_GETFL) | O_NONBLOCK);
    ::fcntl(m_fds[0], F_SETFL, ::fcntl(m_fds[0], F_GETFL) | O_NONBLOCK);
    g_writeFd = m_fds[1];
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
    g_writeFd = -1;
    delete m_notifier;
    for (int fd : m_fds)
        if (fd >= 0) ::close(fd);
}

void TerminationSignals::start() {
    if (m_fds[0] < 0 || m_notifier) return;
    m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);
}

void TerminationSignals::readPending() {
    unsigned char bytes[16];
    ssize_t got;
    while ((got = ::read(m_fds[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < got; ++i)
            emit received(bytes[i]);
}
