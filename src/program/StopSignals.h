#pragma once

#include <QObject>

namespace tessaly::program {

// Turns the system's requests to stop (Ctrl-C, kill, a closed terminal) into a signal on the
// event loop, so that a run ends the way Close ends it: the port is closed properly and nothing
// half-done is left behind. One instance at a time; the default handling returns with its end.
class StopSignals : public QObject {
    Q_OBJECT
public:
    // Opened when the handling is set up (its pair of sockets).
    static constexpr int kDescriptors = 2;

    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    // A stop was requested; `exitStatus` is what the program should end with.
    void stopRequested(int exitStatus);
};

// A reader that went away (`tessaly-dump ... | head`) or a file-size limit (`ulimit -f`) must not
// end the program before it has closed the port and finished with the box: such writes then
// simply fail, and the failure is reported like any other.
void ignoreSignalsOfFailedWrites();

}  // namespace tessaly::program
