#include "window/PortList.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>
#include <utility>

#include "serial/SystemPorts.h"

namespace tessaly::window {

namespace {

const QString kPortToolTip = QStringLiteral("Select the COM-Port for the receiver");
const QString kSimulatedBoxLabel = QStringLiteral("Simulated box");
// Marks entries that came from the system's list, which may drop them again.
constexpr int kSystemListedRole = Qt::UserRole + 1;
// The first entries are always COM 1 to COM 4, in this order.
constexpr int kComPorts = 4;

QString portLabel(const serial::SystemPort& port) {
    if (port.description.isEmpty()) return port.device;
    return QStringLiteral("%1 (%2)").arg(port.device, port.description);
}

bool listsDevice(const std::vector<serial::SystemPort>& ports, const QString& device) {
    return std::any_of(ports.begin(), ports.end(),
                       [&device](const serial::SystemPort& port) { return port.device == device; });
}

// Devices are neither plain files nor directories; anything else that is not a device fails to
// open with a message that says why.
bool isDeviceNode(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isFile() && !info.isDir();
}

// Entries are longer than the field is wide; the open list shows them whole.
void fitListToEntries(QComboBox& box) {
    QAbstractItemView* list = box.view();
    list->setMinimumWidth(list->sizeHintForColumn(0) +
                          list->verticalScrollBar()->sizeHint().width());
}

// The field shows the beginning of a long name, which tells entries apart; the tool tip names
// the whole entry.
void showWholePortName(QComboBox& box) {
    box.lineEdit()->home(false);
    const bool addedDevice = box.currentIndex() >= kComPorts;
    box.setToolTip(addedDevice ? kPortToolTip + QLatin1Char('\n') + box.currentText()
                               : kPortToolTip);
}

// A combo box keeps its entry selected whatever is typed over it; the port list must not, so
// that Open never takes a port other than the one the field shows.
void forgetSelectionWhenEdited(QComboBox& box, const QString& typed) {
    if (box.currentIndex() == -1) return;
    const int cursor = box.lineEdit()->cursorPosition();
    box.setCurrentIndex(-1);
    box.setEditText(typed);
    box.lineEdit()->setCursorPosition(cursor);
}

}  // namespace

PortCombo::PortCombo(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Typed text only edits the field: it neither adds entries nor completes to one.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setToolTip(kPortToolTip);
}

void PortCombo::showPopup() {
    emit aboutToDropDown();
    QComboBox::showPopup();
}

PortList::PortList(PortCombo& box, std::function<std::vector<serial::SystemPort>()> systemPorts)
    : box_(box), systemPorts_(std::move(systemPorts)) {
    connect(&box_, &PortCombo::aboutToDropDown, this, &PortList::refreshSystemPorts);
    connect(box_.lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& typed) { forgetSelectionWhenEdited(box_, typed); });
    connect(&box_, &QComboBox::currentIndexChanged, this, [this] { showWholePortName(box_); });
    for (int number = 1; number <= kComPorts; ++number) {
        const QString name = QStringLiteral("COM %1").arg(number);
        box_.addItem(name, serial::comPortDevice(name));
    }
    refreshSystemPorts();
    selectPort(0);
}

void PortList::refreshSystemPorts() {
    const std::vector<serial::SystemPort> present = systemPorts_();
    // A vanished device that the user has chosen stays, so the choice never changes behind
    // their back; opening it then says that it is not there.
    for (int index = box_.count() - 1; index >= 0; --index) {
        if (index == box_.currentIndex() || !box_.itemData(index, kSystemListedRole).toBool())
            continue;
        if (!listsDevice(present, box_.itemData(index).toString())) box_.removeItem(index);
    }
    for (const serial::SystemPort& port : present) listSystemPort(port);
    fitListToEntries(box_);
}

void PortList::listSystemPort(const serial::SystemPort& port) {
    if (box_.findData(port.device) >= 0) return;  // as "COM n", or named before
    box_.addItem(portLabel(port), port.device);
    box_.setItemData(box_.count() - 1, true, kSystemListedRole);
}

int PortList::addPort(const QString& devicePath, const QString& label) {
    // A device named twice (on the command line and by the system) keeps its one entry.
    int index = box_.findData(devicePath);
    if (index < 0) {
        box_.addItem(label, devicePath);
        index = box_.count() - 1;
        fitListToEntries(box_);
    }
    box_.setItemData(index, false, kSystemListedRole);
    return index;
}

void PortList::offerStartDevices(const QString& device, const QString& simulatedBox) {
    if (!device.isEmpty()) selectPort(addPort(device, device));
    if (!simulatedBox.isEmpty()) selectPort(addPort(simulatedBox, kSimulatedBoxLabel));
}

QString PortList::portName(const QString& device, const QString& comPrefix) const {
    const int index = box_.findData(device);
    if (index >= 0 && index < kComPorts) return comPrefix + QString::number(index + 1);
    return device;
}

QString PortList::takeTypedPort() {
    const QString typed = box_.currentText();
    if (typed.isEmpty()) return QStringLiteral("Select a serial port first.");
    const int index = portEntryFor(typed);
    if (index < 0) return QStringLiteral("No such port: %1").arg(typed);
    selectPort(index);
    return {};
}

int PortList::portEntryFor(const QString& typed) {
    if (const int index = box_.findText(typed); index >= 0) return index;
    const QString comPort = serial::comPortDevice(typed);
    if (const int index = box_.findData(comPort.isEmpty() ? typed : comPort); index >= 0)
        return index;
    const bool serialDevice = isDeviceNode(typed) || listsDevice(systemPorts_(), typed);
    return serialDevice ? addPort(typed, typed) : -1;
}

}  // namespace tessaly::window
