#include "Form1.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QTextCursor>
#include <QUrl>
#include <QVersionNumber>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "CommError.h"
#include "DumpLog.h"
#include "DumpProtocol.h"
#include "PortAdvice.h"
#include "Shapes.h"
#include "Version.h"

// The images live in this static library; nothing would link their registration otherwise.
static void registerResources() { Q_INIT_RESOURCE(tessaly); }

namespace tessaly {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QColor kWindowBackground(224, 224, 224);
const QColor kLinkOpenColor(0, 255, 0);
const QColor kLinkClosedColor(255, 0, 0);
const QUrl kProjectAddress(QStringLiteral("https://tessaly.example.org/"));
const QString kErrorCaption = QStringLiteral("Error");
const QString kDirectoryTitle =
    QStringLiteral("Select a directory for saving data from the flash.");
constexpr qreal kUiPointSize = 8.25;

// The layout is designed in twips; at 96 dots per inch 15 of them make a pixel.
int px(int twips) { return qRound(twips / 15.0); }

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// A horizontal or vertical line from one point to another, one pixel thick.
QRect twipsLine(int x1, int y1, int x2, int y2) {
    return QRect(px(x1), px(y1), std::max(1, px(x2) - px(x1)), std::max(1, px(y2) - px(y1)));
}

template <typename Widget, typename... Args>
Widget* place(QWidget* container, const char* name, const QRect& geometry, Args&&... args) {
    auto* widget = new Widget(std::forward<Args>(args)..., container);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QFont designFont(const QString& family, QFont::StyleHint hint) {
    QFont font(family);
    font.setStyleHint(hint);
    font.setPointSizeF(kUiPointSize);
    return font;
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QString programDirectory() {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator();
}

// The product name with major and minor version, as the About frame shows it.
QString productCaption() {
    const QVersionNumber version = QVersionNumber::fromString(QLatin1String(kFileVersion));
    return QStringLiteral("%1 %2.%3")
        .arg(QLatin1String(kProductName))
        .arg(version.majorVersion())
        .arg(version.minorVersion());
}

// How the port list and the link name a listed device.
QString devicePathOf(const QSerialPortInfo& info) {
#ifdef Q_OS_WIN
    return info.portName();
#else
    return info.systemLocation();
#endif
}

// The program's texts end lines with CR LF; the text box keeps plain line breaks.
QString toWidgetText(QString text) { return text.replace(kCrLf, QStringLiteral("\n")); }

}  // namespace

Form1::Form1(Seams seams, QWidget* parent)
    : QWidget(parent), seams_(std::move(seams)), dumpRun_(MSComm1) {
    createControls();
    connect(&dumpRun_, &DumpRun::finished, this, &Form1::dumpFinished);
    Form_Load();
}

Form1::~Form1() = default;

void Form1::createControls() {
    registerResources();
    setWindowTitle(QLatin1String(kProductName));
    QIcon icon;
    icon.addFile(QStringLiteral(":/tessaly-16.png"));
    icon.addFile(QStringLiteral(":/tessaly-32.png"));
    setWindowIcon(icon);
    // A narrow sans serif: the controls are sized for the classic 8 pt dialog font, and wider
    // faces would clip their captions.
    setFont(designFont(QStringLiteral("Arial"), QFont::SansSerif));
    setFixedSize(px(7410), px(5220));

    createSerialFrame();
    createControlFrame();
    createAboutFrame();
    createLogBand();
    createTargetBand();
    setTabChain();
}

void Form1::createSerialFrame() {
    Frame1 = place<QGroupBox>(this, "Frame1", twipsRect(30, 0, 1545, 855),
                              QStringLiteral("Serial Port"));
    Frame1->setAutoFillBackground(true);
    cmbCom = place<QComboBox>(Frame1, "cmbCom", twipsRect(240, 360, 1095, 315));
    cmbCom->setEditable(true);
    // Typed text only edits the field: it neither adds entries nor completes to one.
    cmbCom->setInsertPolicy(QComboBox::NoInsert);
    cmbCom->setCompleter(nullptr);
    cmbCom->setToolTip(QStringLiteral("Select the COM-Port for the receiver"));
    connect(cmbCom->lineEdit(), &QLineEdit::textEdited, this, &Form1::forgetSelectionWhenEdited);
    // Long device names show their beginning, which tells them apart, not their end.
    connect(cmbCom, &QComboBox::currentIndexChanged, cmbCom->lineEdit(),
            [this] { cmbCom->lineEdit()->home(false); });
}

void Form1::createControlFrame() {
    Frame2 = place<QGroupBox>(this, "Frame2", twipsRect(1570, 0, 1920, 855),
                              QStringLiteral("COM Control"));
    Frame2->setAutoFillBackground(true);
    Command1 = place<QPushButton>(Frame2, "Command1", twipsRect(120, 360, 615, 350),
                                  QStringLiteral("Open"));
    Command2 = place<QPushButton>(Frame2, "Command2", twipsRect(840, 360, 615, 350),
                                  QStringLiteral("Close"));
    Command2->setEnabled(false);
    Shape1 = place<Indicator>(Frame2, "Shape1", twipsRect(1560, 390, 255, 255), kLinkClosedColor);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
}

void Form1::createAboutFrame() {
    Frame3 =
        place<QGroupBox>(this, "Frame3", twipsRect(3510, 0, 3855, 855), QStringLiteral("About"));
    Frame3->setAutoFillBackground(true);
    // The lines stand for the active window border, which the palette lacks; Mid comes closest.
    Line1 = place<Decoration>(Frame3, "Line1", twipsLine(2450, 120, 2450, 480),
                              Decoration::Style::Solid, QPalette::Mid);
    Line2 = place<Decoration>(Frame3, "Line2", twipsLine(0, 480, 3840, 480),
                              Decoration::Style::Solid, QPalette::Mid);
    Label1 = place<QLabel>(Frame3, "Label1", twipsRect(120, 195, 2295, 255),
                           QStringLiteral("Reads the content of EEPROM"));
    Label7 = place<QLabel>(Frame3, "Label7", twipsRect(2540, 195, 1215, 255), productCaption());
    QFont productFont = designFont(QStringLiteral("Arial"), QFont::SansSerif);
    productFont.setBold(true);
    Label7->setFont(productFont);
    setTextColor(Label7, Qt::black);
    Label4 = place<QLabel>(Frame3, "Label4", twipsRect(0, 555, 1815, 255),
                           QStringLiteral("(c) 2026 Tessaly team"));
    setTextColor(Label4, Qt::black);
    Label6 =
        place<QLabel>(Frame3, "Label6", twipsRect(1920, 555, 1815, 255), kProjectAddress.host());
    QFont linkFont = designFont(QStringLiteral("Arial"), QFont::SansSerif);
    linkFont.setUnderline(true);
    Label6->setFont(linkFont);
    setTextColor(Label6, QColor(0, 0, 255));
    Label6->setCursor(QCursor(QPixmap(QStringLiteral(":/pointing-hand.png")), 12, 1));
    Label6->installEventFilter(this);
}

void Form1::createLogBand() {
    Shape2 = place<Decoration>(this, "Shape2", twipsRect(30, 885, 7320, 3690),
                               Decoration::Style::Outline, QPalette::Shadow);
    Text1 = place<QPlainTextEdit>(this, "Text1", twipsRect(120, 960, 7095, 3495));
    Text1->setFont(designFont(QStringLiteral("Courier New"), QFont::TypeWriter));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab moves on to the next control, as in every other field of the window.
    Text1->setTabChangesFocus(true);
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Text, Qt::black);
    Text1->setPalette(palette);
}

void Form1::createTargetBand() {
    Shape4 = place<Decoration>(this, "Shape4", twipsRect(30, 4560, 7320, 615),
                               Decoration::Style::Outline, QPalette::Shadow);
    Label3 =
        place<QLabel>(this, "Label3", twipsRect(240, 4725, 615, 255), QStringLiteral("Save to"));
    setTextColor(Label3, Qt::black);
    Text2 = place<QLineEdit>(this, "Text2", twipsRect(960, 4680, 5175, 330));
    cmdDir = place<QPushButton>(this, "cmdDir", twipsRect(6240, 4670, 855, 375),
                                QStringLiteral("Directory"));
    connect(cmdDir, &QPushButton::clicked, this, &Form1::cmdDir_Click);
}

void Form1::setTabChain() {
    QWidget::setTabOrder(Text2, cmdDir);
    QWidget::setTabOrder(cmdDir, cmbCom);
    QWidget::setTabOrder(cmbCom, Command1);
    QWidget::setTabOrder(Command1, Command2);
    QWidget::setTabOrder(Command2, Text1);
    Text2->setFocus();
}

void Form1::Form_Load() {
    for (int port = 1; port < MSComm::FirstAddedPort; ++port)
        cmbCom->addItem(QStringLiteral("COM %1").arg(port), port);
    addSystemPorts();
    selectPort(0);
    setUpLinkForBox(MSComm1);

    Text2->setText(programDirectory());
    replaceLog(QStringLiteral(R"(ACTIVATE THE "HOST - MODE" OF THE STB FIRST, CLICK OPEN THEN)") +
               kCrLf);
}

void Form1::addSystemPorts() {
    QStringList comDevices;
    for (int port = 1; port < MSComm::FirstAddedPort; ++port)
        comDevices << MSComm1.DeviceName(port);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString device = devicePathOf(info);
        if (!comDevices.contains(device)) addPort(device, device);
    }
}

int Form1::addPort(const QString& devicePath, const QString& label) {
    const int port = MSComm1.AddDevice(devicePath);
    // A device named twice (on the command line and by the system) keeps its one entry.
    if (const int listed = cmbCom->findData(port); listed >= 0) return listed;
    cmbCom->addItem(label, port);
    // Device paths are longer than the field is wide; the open list shows them whole.
    QAbstractItemView* list = cmbCom->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) +
                          list->verticalScrollBar()->sizeHint().width());
    return cmbCom->count() - 1;
}

void Form1::selectPort(int index) { cmbCom->setCurrentIndex(index); }

int Form1::selectedPort() const { return cmbCom->currentData().toInt(); }

// A combo box keeps its entry selected whatever is typed over it; the port list must not, so
// that Open never takes a port other than the one the field shows.
void Form1::forgetSelectionWhenEdited(const QString& typed) {
    if (cmbCom->currentIndex() == -1) return;
    const int cursor = cmbCom->lineEdit()->cursorPosition();
    cmbCom->setCurrentIndex(-1);
    cmbCom->setEditText(typed);
    cmbCom->lineEdit()->setCursorPosition(cursor);
}

QString Form1::portName(int port, const QString& comPrefix) const {
    if (port < MSComm::FirstAddedPort) return comPrefix + QString::number(port);
    return MSComm1.DeviceName(port);
}

bool Form1::OpenPort(int port) {
    try {
        MSComm1.setCommPort(port);
        MSComm1.setPortOpen(true);
    } catch (const CommError& error) {
        reportOpenFailure(port, error);
        return false;
    }
    if (!MSComm1.PortOpen()) {
        appendLog(QStringLiteral("error opening ") + portName(port, QStringLiteral("COM")) + kCrLf);
        return false;
    }
    setLinkControls(true);
    Shape1->setFillColor(kLinkOpenColor);
    return true;
}

void Form1::reportOpenFailure(int port, const CommError& error) {
    const QString name = portName(port, QStringLiteral("COM "));
    const QString caption = QStringLiteral("Error opening ") + name;
    switch (error.number()) {
        case CommError::NoSuchPort:
            showMessage(QStringLiteral("Serial port %1 not present.").arg(name), caption);
            return;
        case CommError::PortInUse:
            showMessage(QStringLiteral("%1 blocked by another application.").arg(name), caption);
            return;
        default:
            break;
    }
    QString text = QStringLiteral("Serial port %1 cannot be opened: %2.").arg(name, error.reason());
    if (error.number() == CommError::AccessDenied)
        text += QStringLiteral("\n\n") + accessDeniedHint();
    showMessage(text, caption);
}

void Form1::ClosePort(int) {
    if (MSComm1.PortOpen()) {
        Shape1->setFillColor(kLinkClosedColor);
        MSComm1.setPortOpen(false);
        appendLog(QLatin1String(kPortClosedLog));
    }
    setLinkControls(false);
}

void Form1::setLinkControls(bool linkOpen) {
    cmdDir->setEnabled(!linkOpen);
    cmbCom->setEnabled(!linkOpen);
    Command1->setEnabled(!linkOpen);
    Command2->setEnabled(linkOpen);
    Text2->setEnabled(!linkOpen);
}

void Form1::Command1_Click() {
    sFileName = QLatin1String(kImageFileName);
    lCheckSum = 0;
    if (Text2->text().isEmpty()) {
        showMessage(QStringLiteral("Select a directory for saving data first."), kErrorCaption);
        return;
    }
    if (cmbCom->currentIndex() == -1) {
        showMessage(QStringLiteral("Select a serial port first."), kErrorCaption);
        return;
    }
    runPort_ = selectedPort();
    if (!OpenPort(runPort_)) {
        ClosePort(runPort_);
        return;
    }
    replaceLog(QLatin1String(kRequestLog));
    imagePath_ = Text2->text() + sFileName;
    dumpRun_.start(imagePath_);
}

void Form1::dumpFinished(const DumpRun::Result& result) {
    switch (result.outcome) {
        case DumpRun::Outcome::Cancelled:
            return;  // whoever closed the link has restored the controls already
        case DumpRun::Outcome::Saved:
        case DumpRun::Outcome::ChecksumMismatch:
            keepReply(result);
            break;
        case DumpRun::Outcome::WriteFailed:
            keepReply(result);
            showMessage(QStringLiteral("The image could not be saved as %1: %2.")
                            .arg(imagePath_, result.detail),
                        kErrorCaption);
            break;
        case DumpRun::Outcome::LinkLost:
            appendLog(kCrLf + QStringLiteral("Connection to the box lost: %1").arg(result.detail) +
                      kCrLf);
            Shape1->setFillColor(kLinkClosedColor);
            break;
        case DumpRun::Outcome::TimedOut:
            appendLog(kCrLf + QStringLiteral("The box did not answer: %1").arg(result.detail) +
                      kCrLf);
            break;
    }
    ClosePort(runPort_);
}

void Form1::keepReply(const DumpRun::Result& result) {
    bytData = result.reply;
    const auto size = std::min<std::size_t>(std::size_t(bytData.size()), dump::kDataSize);
    lCheckSum =
        dump::checksumOf({reinterpret_cast<const std::uint8_t*>(bytData.constData()), size});
    // One append for the whole listing: the log widget is slow to grow byte by byte.
    appendLog(dumpResultLog(result));
}

void Form1::Command2_Click() { ClosePort(selectedPort()); }

QString Form1::BrowseForFolder(const QString& sTitle) { return seams_.chooseFolder(this, sTitle); }

void Form1::cmdDir_Click() {
    Text2->setText(BrowseForFolder(kDirectoryTitle) + QDir::separator());
    const QString chosen = Text2->text();
    if (chosen.isEmpty() || chosen == QString(QDir::separator()))
        Text2->setText(programDirectory());
}

void Form1::Label6_Click() { seams_.openUrl(kProjectAddress); }

void Form1::showMessage(const QString& text, const QString& caption) {
    seams_.showMessage(this, text, caption);
}

QString Form1::logText() const { return Text1->toPlainText().replace(QLatin1Char('\n'), kCrLf); }

void Form1::appendLog(const QString& text) {
    QTextCursor cursor(Text1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(toWidgetText(text));
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

void Form1::replaceLog(const QString& text) { Text1->setPlainText(toWidgetText(text)); }

void Form1::closeEvent(QCloseEvent* event) {
    if (MSComm1.PortOpen()) ClosePort(selectedPort());
    event->accept();
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kWindowBackground);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label6 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            Label6->rect().contains(mouse->position().toPoint()))
            Label6_Click();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tessaly
