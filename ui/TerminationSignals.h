// SIGTERM (a desktop sends it at logout, `kill` by default), SIGINT (Ctrl+C in the terminal) and
// SIGHUP (the terminal closed) end the program the way closing its window does, instead of at
// once: a signal handler may do almost nothing, so it only writes the signal's number into a socket
// pair, and the event loop reads it there and reports it as a Qt signal.
#pragma once

#include <QObject>

class QSocketNotifier;

class TerminationSignals final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)
public:
    /** Installs the handlers (no application object needed yet); one object at a time per process.
     *  Signals that arrive from now on are held until start(). */
    explicit TerminationSignals(QObject* parent = nullptr);
    /** Puts the default handlers back. */
    ~TerminationSignals() override;

    /** @short From now on the event loop reports the signals, those held so far first. Call it once
     *  whoever ends the run is connected to received(). */
    void start();

signals:
    /** One of the signals arrived (its number), delivered by the event loop. */
    void received(int signalNumber);

private:
    void readPending();

    int m_fds[2] = {-1, -1}; ///< [0] read by the event loop, [1] written by the handler
    QSocketNotifier* m_notifier = nullptr;
};
