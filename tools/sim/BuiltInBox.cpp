#include "BuiltInBox.h"

namespace tessaly::sim {

namespace {

class TerminalBox : public BuiltInBox {
public:
    explicit TerminalBox(const SimOptions& options) : box_(options) {}
    QString devicePath() const override { return box_.devicePath(); }

private:
    StbSimulator box_;
};

}  // namespace

std::unique_ptr<BuiltInBox> startBuiltInBox(const SimOptions& options) {
    return std::make_unique<TerminalBox>(options);
}

}  // namespace tessaly::sim
