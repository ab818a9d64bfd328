#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>

#include "sim/BoxBehaviour.h"
#include "sim/BoxWire.h"

namespace tessaly::sim {

// A set-top box in "HOST - MODE" on a wire of its own. It checks every byte the host sends
// against its own table of the exchange and serves dumps until destroyed.
class SimulatedBox : public QObject {
    Q_OBJECT
public:
    ~SimulatedBox() override;

    QString devicePath() const { return wire_->devicePath(); }
    // Everything the host sent, byte for byte, since the start.
    const QByteArray& transcript() const { return transcript_; }
    // Dumps the host acknowledged, with success and with error.
    int successAcknowledgements() const { return successAcks_; }
    int errorAcknowledgements() const { return errorAcks_; }
    // Each time the host sent something the box did not expect: what and where.
    const QStringList& deviations() const { return deviations_; }

signals:
    void acknowledged(bool success);
    void hostDeviated(const QString& what);
    void hungUp();
    // Bytes from the host, as they arrive (the transcript grows by exactly these).
    void received(const QByteArray& bytes);
    // The last byte of a complete reply is on the wire (for timing the host's reaction).
    void replySent();

protected:
    SimulatedBox(SimOptions options, std::unique_ptr<BoxWire> wire, QObject* parent);

private:
    struct State;
    std::unique_ptr<BoxWire> wire_;
    std::unique_ptr<State> state_;
    QByteArray transcript_;
    int successAcks_ = 0;
    int errorAcks_ = 0;
    QStringList deviations_;
};

// A simulated box on a wire of the kind `newWire` makes.
template <std::unique_ptr<BoxWire> (*newWire)()>
class SimulatedBoxOn : public SimulatedBox {
public:
    explicit SimulatedBoxOn(SimOptions options = {}, QObject* parent = nullptr)
        : SimulatedBox(std::move(options), newWire(), parent) {}
};

// A simulated box inside the program, on every platform: SerialLink opens it by devicePath()
// through an in-process link. Only this process can reach it.
std::unique_ptr<BoxWire> newInProcessWire();
using InProcessBox = SimulatedBoxOn<newInProcessWire>;

// A simulated box on a pseudo-terminal of its own, which any program can open by devicePath();
// only where there are pseudo-terminals. Throws std::runtime_error when none can be had.
std::unique_ptr<BoxWire> newTerminalWire();
using StbSimulator = SimulatedBoxOn<newTerminalWire>;

}  // namespace tessaly::sim
