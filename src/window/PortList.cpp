#include "window/PortList.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>
#include <utility>

#include "serial/SerialLink.h"

namespace tessaly::window {

namespace {

const QString kPortToolTip = QStringLiteral("Select the COM-Port for the receiver");
const QString kSimulatedBoxLabel = QStringLiteral("Simulated box");
// Marks entries that came from the system's list, which may drop them again.
constexpr int kSystemListedRole = Qt::UserRole + 1;

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
    const bool addedDevice = box.currentData().toInt() >= serial::SerialLink::FirstAddedPort;
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

PortList::PortList(PortCombo& box, serial::SerialLink& link,
                   std::function<std::vector<serial::SystemPort>()> systemPorts)
    : box_(box), link_(link), systemPorts_(std::move(systemPorts)) {
    connect(&box_, &PortCombo::aboutToDropDown, this, &PortList::refreshSystemPorts);
    connect(box_.lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& typed) { forgetSelectionWhenEdited(box_, typed); });
    connect(&box_, &QComboBox::currentIndexChanged, this, [this] { showWholePortName(box_); });
    for (int port = 1; port < serial::SerialLink::FirstAddedPort; ++port)
        box_.addItem(QStringLiteral("COM %1").arg(port), port);
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
        if (!listsDevice(present, link_.DeviceName(box_.itemData(index).toInt())))
            box_.removeItem(index);
    }
    for (const serial::SystemPort& port : present) listSystemPort(port);
    fitListToEntries(box_);
}

void PortList::listSystemPort(const serial::SystemPort& port) {
    for (int number = 1; number < serial::SerialLink::FirstAddedPort; ++number)
        if (link_.DeviceName(number) == port.device) return;  // listed as "COM n" already
    const int number = link_.AddDevice(port.device);
    if (box_.findData(number) >= 0) return;
    box_.addItem(portLabel(port), number);
    box_.setItemData(box_.count() - 1, true, kSystemListedRole);
}

int PortList::addPort(const QString& devicePath, const QString& label) {
    const int port = link_.AddDevice(devicePath);
    // A device named twice (on the command line and by the system) keeps its one entry.
    int index = box_.findData(port);
    if (index < 0) {
        box_.addItem(label, port);
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

QString PortList::portName(int port, const QString& comPrefix) const {
    if (port < serial::SerialLink::FirstAddedPort) return comPrefix + QString::number(port);
    return link_.DeviceName(port);
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
    for (int index = 0; index < box_.count(); ++index) {
        if (box_.itemText(index) == typed ||
            link_.DeviceName(box_.itemData(index).toInt()) == typed)
            return index;
    }
    if (const int number = serial::SerialLink::ComPortNumber(typed); number > 0)
        return box_.findData(number);
    const bool serialDevice = isDeviceNode(typed) || listsDevice(systemPorts_(), typed);
    return serialDevice ? addPort(typed, typed) : -1;
}

}  // namespace tessaly::window
