#include <QSocketNotifier>

#include "sim/PseudoTerminal.h"
#include "sim/SimulatedBox.h"

namespace tessaly::sim {

namespace {

// The controller side of a pseudo-terminal, watched by the event loop.
class TerminalWire : public BoxWire {
public:
    TerminalWire()
        : readable_(terminal_.fd(), QSocketNotifier::Read),
          writable_(terminal_.fd(), QSocketNotifier::Write) {
        writable_.setEnabled(false);
        connect(&readable_, &QSocketNotifier::activated, this, &BoxWire::readable);
        connect(&writable_, &QSocketNotifier::activated, this, &BoxWire::writable);
    }

    QString devicePath() const override { return terminal_.devicePath(); }
    QByteArray readAvailable() override { return terminal_.readAvailable(); }
    qsizetype writeSome(const QByteArray& bytes) override { return terminal_.writeSome(bytes); }
    qsizetype unreadByProgram() const override { return terminal_.unreadByProgram(); }
    void close() override { terminal_.close(); }
    void watchReadable(bool on) override { readable_.setEnabled(on); }
    void watchWritable(bool on) override { writable_.setEnabled(on); }

private:
    PseudoTerminal terminal_;
    QSocketNotifier readable_;
    QSocketNotifier writable_;
};

}  // namespace

std::unique_ptr<BoxWire> newTerminalWire() { return std::make_unique<TerminalWire>(); }

}  // namespace tessaly::sim
