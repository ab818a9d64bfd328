#include "window/Startup.h"

#include "sim/InProcessBox.h"
#include "window/Form1.h"

namespace tessaly::window {

void offerStartDevices(Form1& form, const QString& device, const sim::InProcessBox* box) {
    if (!device.isEmpty()) form.selectPort(form.addPort(device, device));
    if (box) form.selectPort(form.addPort(box->devicePath(), QLatin1String(kSimulatedBoxLabel)));
}

}  // namespace tessaly::window
