#include "sim/BuiltInBox.h"

#include "sim/InProcessBox.h"

namespace tessaly::sim {

namespace {

class LinkedBox : public BuiltInBox {
public:
    explicit LinkedBox(const SimOptions& options) : box_(options) {}
    QString devicePath() const override { return box_.devicePath(); }

private:
    InProcessBox box_;
};

}  // namespace

std::unique_ptr<BuiltInBox> startBuiltInBox(const SimOptions& options) {
    return std::make_unique<LinkedBox>(options);
}

}  // namespace tessaly::sim
