// The window as it first appears: design, start-up defaults and focus order.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QtTest/QTest>

#include "FormFixture.h"

namespace tessaly::test {
namespace {

using StartStateTest = FormTest;

TEST_F(StartStateTest, PortListStartsWithTheFourComPortsAndSelectsTheFirst) {
    QComboBox* ports = cmbCom();
    ASSERT_GE(ports->count(), 4);
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(ports->itemText(index), QStringLiteral("COM %1").arg(index + 1));
        EXPECT_EQ(ports->itemData(index).toString(), QStringLiteral("/dev/ttyS%1").arg(index));
    }
    EXPECT_EQ(ports->currentIndex(), 0);
    EXPECT_EQ(ports->currentText(), "COM 1");
    EXPECT_TRUE(ports->isEditable());
    EXPECT_EQ(ports->toolTip(), "Select the COM-Port for the receiver");
}

TEST_F(StartStateTest, LinkIsClosed) {
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), QColor(255, 0, 0));
    EXPECT_FALSE(controller.portOpen());
}

TEST_F(StartStateTest, TargetIsTheProgramDirectoryAndTheLogHoldsOnlyTheGreeting) {
    EXPECT_EQ(Text2()->text(),
              QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator());
    EXPECT_EQ(kGreeting.size(), 62);
    EXPECT_EQ(form.logText(), kGreeting);
}

TEST_F(StartStateTest, ControlsSitAtTheirDesignedPixels) {
    EXPECT_EQ(form.windowTitle(), "Tessaly");
    EXPECT_EQ(form.size(), QSize(494, 348));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());

    // Positions are relative to the container, frames included.
    EXPECT_EQ(control<QWidget>("Frame2")->geometry(), QRect(105, 0, 128, 57));
    EXPECT_EQ(cmbCom()->geometry(), QRect(16, 24, 73, 21));
    EXPECT_EQ(control<QWidget>("Shape1")->geometry(), QRect(104, 26, 17, 17));
    EXPECT_EQ(control<QWidget>("Label6")->geometry(), QRect(128, 37, 121, 17));
    EXPECT_EQ(control<QWidget>("Line2")->geometry(), QRect(0, 32, 256, 1));
    EXPECT_EQ(Text1()->geometry(), QRect(8, 64, 473, 233));
    EXPECT_EQ(control<QWidget>("Shape2")->geometry(), QRect(2, 59, 488, 246));
    EXPECT_EQ(cmdDir()->geometry(), QRect(416, 311, 57, 25));
    EXPECT_EQ(cmdDir()->parentWidget(), &form);
}

TEST_F(StartStateTest, CaptionsFontsAndColoursFollowTheDesign) {
    EXPECT_EQ(control<QWidget>("Frame1")->property("title").toString(), "Serial Port");
    EXPECT_EQ(Command1()->text(), "Open");
    EXPECT_EQ(Command2()->text(), "Close");
    EXPECT_EQ(cmdDir()->text(), "Directory");
    EXPECT_EQ(control<QLabel>("Label7")->text(), "Tessaly 1.0");
    EXPECT_TRUE(control<QLabel>("Label7")->font().bold());

    // The listing's columns only line up in a fixed-pitch face.
    EXPECT_TRUE(QFontInfo(Text1()->font()).fixedPitch());
    EXPECT_EQ(Text1()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(Text1()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_FALSE(Text1()->isReadOnly());

    auto* link = control<QLabel>("Label6");
    EXPECT_EQ(link->text(), "tessaly.example.org");
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(link->cursor().shape(), Qt::BitmapCursor);
    EXPECT_FALSE(link->cursor().pixmap().isNull());
    EXPECT_EQ(link->cursor().hotSpot(), QPoint(12, 1));

    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(form.grab().toImage().pixelColor(492, 100), QColor(224, 224, 224));
}

TEST_F(StartStateTest, TabWalksFromTheDirectoryTextToTheLogSkippingDisabledClose) {
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_EQ(QApplication::focusWidget(), Text2());

    const std::vector<QWidget*> expected = {cmdDir(), cmbCom(), Command1(), Text1(), Text2()};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        EXPECT_TRUE(focused == next || next->isAncestorOf(focused))
            << "expected " << next->objectName().toStdString() << ", focus is on "
            << (focused ? focused->objectName().toStdString() : "nothing");
    }
}

}  // namespace
}  // namespace tessaly::test
