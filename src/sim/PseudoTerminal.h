#pragma once

#include <QByteArray>
#include <QString>

namespace tessaly::sim {

// The controller side of a pseudo-terminal; the program under test opens devicePath().
// Raw mode, non-blocking. A copy of the device side stays open so that reads do not fail while
// the program has the device closed.
class PseudoTerminal {
public:
    PseudoTerminal();  // throws std::runtime_error when no pseudo-terminal can be had
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    QString devicePath() const { return devicePath_; }
    int fd() const { return master_; }

    // Whatever is waiting now (empty when nothing is); never blocks.
    QByteArray readAvailable();
    // Writes as much as the terminal takes now; returns the count written (may be short).
    qsizetype writeSome(const QByteArray& bytes);
    // Bytes written here that the program has not read yet. Hanging up discards them, so a
    // hang-up meant to come after them waits until this is zero.
    qsizetype unreadByProgram() const;
    // Hangs up: the program's side sees the device go away.
    void close();

private:
    int master_ = -1;
    int slave_ = -1;
    QString devicePath_;
};

}  // namespace tessaly::sim
