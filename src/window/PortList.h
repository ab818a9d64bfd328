#pragma once

#include <QComboBox>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

#include "window/Seams.h"

namespace tessaly::window {

// The port list's box: an editable list that tells before it drops down, so that an adapter
// plugged in after the start can be listed in time to be chosen.
class PortCombo : public QComboBox {
    Q_OBJECT
public:
    explicit PortCombo(QWidget* parent);
    void showPopup() override;

signals:
    void aboutToDropDown();
};

// The ports the user can choose from: COM 1 to COM 4, the serial devices the system lists (with
// their descriptions) and devices named on the command line or typed into the field. Each entry
// carries its device.
class PortList : public QObject {
    Q_OBJECT
public:
    PortList(PortCombo& box, std::function<std::vector<serial::SystemPort>()> systemPorts);

    // Adds a device that has no entry yet (as one of COM 1 to COM 4 or otherwise); returns its
    // entry's index. The entry stays when the system no longer lists the device.
    int addPort(const QString& devicePath, const QString& label);
    void selectPort(int index) { box_.setCurrentIndex(index); }
    // The device of the selected entry; empty when none is selected.
    QString selectedDevice() const { return box_.currentData().toString(); }
    // The devices named on the command line, selected last to first: `device` (may be empty)
    // labelled by its path, then the simulated box's device (may be empty).
    void offerStartDevices(const QString& device, const QString& simulatedBox);

    // Selects the entry for what was typed into the field; otherwise returns why not.
    QString takeTypedPort();
    // "COM 3" style for the first four ports (the prefix says whether with a space), the device
    // itself for the others.
    QString portName(const QString& device, const QString& comPrefix) const;

private:
    // Brings the list up to date with the devices the system has now.
    void refreshSystemPorts();
    void listSystemPort(const serial::SystemPort& port);
    // The entry for a port typed into the field, added when it names a device; -1 when none.
    int portEntryFor(const QString& typed);

    PortCombo& box_;
    std::function<std::vector<serial::SystemPort>()> systemPorts_;
};

}  // namespace tessaly::window
