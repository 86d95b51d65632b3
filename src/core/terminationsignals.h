#pragma once

#include <QObject>

class QSocketNotifier;

namespace mr {

// Turns SIGTERM and SIGINT (a session logout, Ctrl+C in a terminal) into a queued signal on
// the main thread. The handler only writes the signal number into a pipe; everything else
// happens in the event loop. One instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be installed.
    bool installed() const { return m_installed; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
    bool m_ownsPipe = false;
    bool m_installed = false;
};

}  // namespace mr
