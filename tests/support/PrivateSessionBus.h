// A session bus of the test's own: dbus-daemon with a configuration that names no service to start
// on demand, so nothing is on it but what the test puts there (the machine's keyring, notification
// daemon and the like are not started by a first call).
#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <csignal>
#include <sys/prctl.h>

/** @short The process started by `process` is killed when this one ends, even by a crash. */
inline void EndWithThisProcess(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

class PrivateSessionBus final {
public:
    PrivateSessionBus() = default;
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;
    ~PrivateSessionBus() {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    /** @short Starts the bus, its configuration written in `folder`; its address, or an empty
     *  text when it did not start. */
    QString start(const QString& folder) {
        const QString config = folder + u"/bus.conf"_qs;
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) return {};
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>session</type>\n"
                   "  <listen>unix:tmpdir=/tmp</listen>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n"
                   "    <allow own=\"*\"/>\n"
                   "  </policy>\n"
                   "</busconfig>\n");
        file.close();
        EndWithThisProcess(m_daemon);
        m_daemon.start(u"dbus-daemon"_qs, {u"--config-file="_qs + config, u"--nofork"_qs, u"--print-address=1"_qs});
        if (!m_daemon.waitForReadyRead(10000)) return {};
        return QString::fromUtf8(m_daemon.readLine().trimmed());
    }

private:
    QProcess m_daemon;
};
