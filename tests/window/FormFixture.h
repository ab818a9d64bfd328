#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <vector>

#include "window/DumpController.h"
#include "window/Form1.h"
#include "window/Seams.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tessaly::test {

inline const QString kGreeting =
    QStringLiteral("ACTIVATE THE \"HOST - MODE\" OF THE STB FIRST, CLICK OPEN THEN\r\n");

// Stands in for the desktop: records what the window shows and hands over, answers the folder
// chooser with a prepared choice and lists the serial devices the test plugs in.
struct FakeDesktop {
    struct Message {
        QString text;
        QString caption;
        bool operator==(const Message&) const = default;
    };

    std::vector<Message> messages;
    std::vector<QUrl> openedUrls;
    QStringList folderTitles;
    QStringList folderStarts;
    QString folderChoice;  // empty: the user cancels
    std::vector<serial::SystemPort> systemPorts;
    std::function<void()> onMessage;  // what happens while a message is shown

    window::Seams seams() {
        window::Seams seams;
        seams.showMessage = [this](QWidget*, const QString& text, const QString& caption) {
            messages.push_back({text, caption});
            if (onMessage) onMessage();
        };
        seams.openUrl = [this](const QUrl& url) { openedUrls.push_back(url); };
        seams.chooseFolder = [this](QWidget*, const QString& title, const QString& start) {
            folderTitles << title;
            folderStarts << start;
            return folderChoice;
        };
        seams.systemPorts = [this] { return systemPorts; };
        return seams;
    }
};

inline void PrintTo(const FakeDesktop::Message& message, std::ostream* out) {
    *out << '"' << message.text.toStdString() << "\" / \"" << message.caption.toStdString() << '"';
}

class FormTest : public ::testing::Test {
protected:
    template <typename Widget>
    Widget* control(const char* name) {
        auto* widget = form.findChild<Widget*>(QString::fromLatin1(name));
        if (!widget) ADD_FAILURE() << "no control " << name;
        return widget;
    }

    QComboBox* cmbCom() { return control<QComboBox>("cmbCom"); }
    QPushButton* Command1() { return control<QPushButton>("Command1"); }
    QPushButton* Command2() { return control<QPushButton>("Command2"); }
    QPushButton* cmdDir() { return control<QPushButton>("cmdDir"); }
    QLineEdit* Text2() { return control<QLineEdit>("Text2"); }
    QPlainTextEdit* Text1() { return control<QPlainTextEdit>("Text1"); }
    QColor lamp() { return control<window::Indicator>("Shape1")->fillColor(); }

    // Enabled states of Directory, port list, Open, Close and the directory text, in this order.
    std::vector<bool> linkControls() {
        return {cmdDir()->isEnabled(), cmbCom()->isEnabled(), Command1()->isEnabled(),
                Command2()->isEnabled(), Text2()->isEnabled()};
    }
    static std::vector<bool> closedLinkState() { return {true, true, true, false, true}; }
    static std::vector<bool> openLinkState() { return {false, false, false, true, false}; }

    // Adds a device to the port list, selects it and returns it.
    QString selectDevice(const QString& devicePath) {
        controller.ports().selectPort(controller.ports().addPort(devicePath, devicePath));
        return devicePath;
    }

    FakeDesktop desktop;
    window::Form1 form{desktop.seams()};
    window::DumpController controller{form};
};

}  // namespace tessaly::test
