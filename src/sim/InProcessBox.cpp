#include "serial/InProcessLink.h"
#include "sim/SimulatedBox.h"

namespace tessaly::sim {

namespace {

// The box's end of an in-process link. The link takes every write whole and keeps the order of
// bytes and hang-up, so the host never misses what came before a hang-up.
class LinkWire : public BoxWire {
public:
    LinkWire() {
        connect(&link_, &serial::InProcessLink::received, this, [this] {
            if (watchingReadable_) emit readable();
        });
    }

    QString devicePath() const override { return link_.name(); }
    QByteArray readAvailable() override { return link_.takeReceived(); }
    qsizetype writeSome(const QByteArray& bytes) override {
        link_.send(bytes);
        return bytes.size();
    }
    qsizetype unreadByProgram() const override { return 0; }
    void close() override { link_.hangUp(); }
    void watchReadable(bool on) override { watchingReadable_ = on; }
    void watchWritable(bool) override {}

private:
    serial::InProcessLink link_;
    bool watchingReadable_ = true;
};

}  // namespace

std::unique_ptr<BoxWire> newInProcessWire() { return std::make_unique<LinkWire>(); }

}  // namespace tessaly::sim
