#include "window/Form1.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFile>
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
#include <QTextCursor>
#include <QUrl>
#include <QVersionNumber>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "Version.h"
#include "dump/DumpLog.h"
#include "dump/DumpProtocol.h"
#include "serial/CommError.h"
#include "serial/PortAdvice.h"
#include "window/Shapes.h"
#include "window/TargetDirectory.h"

// The images live in this static library; nothing would link their registration otherwise.
static void registerResources() { Q_INIT_RESOURCE(tessaly); }

namespace tessaly::window {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QColor kWindowBackground(224, 224, 224);
const QColor kLinkOpenColor(0, 255, 0);
const QColor kLinkClosedColor(255, 0, 0);
const QUrl kProjectAddress(QStringLiteral("https://tessaly.example.org/"));
const QString kErrorCaption = QStringLiteral("Error");
const QString kPortToolTip = QStringLiteral("Select the COM-Port for the receiver");
// Marks port list entries that came from the system's list, which may drop them again.
constexpr int kSystemListedRole = Qt::UserRole + 1;
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

// A fixed text colour needs a fixed background, or a dark colour scheme hides the text.
void setFixedColors(QWidget* widget, QPalette::ColorRole textRole, const QColor& text,
                    QPalette::ColorRole backgroundRole, const QColor& background) {
    QPalette palette = widget->palette();
    palette.setColor(textRole, text);
    palette.setColor(backgroundRole, background);
    widget->setPalette(palette);
}

// Text in a fixed colour needs a light ground: under a light scheme the label shows its
// container's own, under a dark one it paints the design's window colour behind itself.
void setTextColor(QLabel* label, const QColor& color) {
    const bool darkGround =
        label->parentWidget()->palette().color(QPalette::Window).lightness() < 160;
    setFixedColors(label, QPalette::WindowText, color, QPalette::Window, kWindowBackground);
    label->setAutoFillBackground(darkGround);
}

// The product name with major and minor version, as the About frame shows it.
QString productCaption() {
    const QVersionNumber version = QVersionNumber::fromString(QLatin1String(kFileVersion));
    return QStringLiteral("%1 %2.%3")
        .arg(QLatin1String(kProductName))
        .arg(version.majorVersion())
        .arg(version.minorVersion());
}

QString portLabel(const SystemPort& port) {
    if (port.description.isEmpty()) return port.device;
    return QStringLiteral("%1 (%2)").arg(port.device, port.description);
}

bool listsDevice(const std::vector<SystemPort>& ports, const QString& device) {
    return std::any_of(ports.begin(), ports.end(),
                       [&device](const SystemPort& port) { return port.device == device; });
}

QString acknowledgementFailureLine(const QString& reason) {
    return kCrLf +
           QStringLiteral("The acknowledgement may not have reached the box: %1").arg(reason) +
           kCrLf;
}

bool isCharacterDevice(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISCHR(status.st_mode);
#else
    Q_UNUSED(path);
    return false;
#endif
}

// The port list asks for the system's devices each time it drops down, so that an adapter
// plugged in after the start can be chosen.
class PortList : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;

    void showPopup() override {
        if (beforePopup) beforePopup();
        QComboBox::showPopup();
    }
};

// The program's texts end lines with CR LF; the text box keeps plain line breaks.
QString toWidgetText(QString text) { return text.replace(kCrLf, QStringLiteral("\n")); }

}  // namespace

Form1::Form1(Seams seams, QWidget* parent)
    : QWidget(parent), seams_(std::move(seams)), dumpRun_(MSComm1) {
    createControls();
    connect(&dumpRun_, &dump::DumpRun::finished, this, &Form1::dumpFinished);
    // Connected after the dump run's own handler, so a loss during a run is logged after the run
    // has ended.
    connect(&MSComm1, &serial::MSComm::linkLost, this, &Form1::onLinkLost);
    connect(&MSComm1, &serial::MSComm::dataReceived, this, &Form1::noticeProgress);
    silenceTimer_.setSingleShot(true);
    connect(&silenceTimer_, &QTimer::timeout, this, &Form1::remindOfHostMode);
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
    auto* portList = place<PortList>(Frame1, "cmbCom", twipsRect(240, 360, 1095, 315));
    portList->beforePopup = [this] { refreshSystemPorts(); };
    cmbCom = portList;
    cmbCom->setEditable(true);
    // Typed text only edits the field: it neither adds entries nor completes to one.
    cmbCom->setInsertPolicy(QComboBox::NoInsert);
    cmbCom->setCompleter(nullptr);
    cmbCom->setToolTip(kPortToolTip);
    connect(cmbCom->lineEdit(), &QLineEdit::textEdited, this, &Form1::forgetSelectionWhenEdited);
    connect(cmbCom, &QComboBox::currentIndexChanged, this, &Form1::showWholePortName);
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
    // Return and Enter press the focused button, as Space does.
    Command1->setAutoDefault(true);
    Command2->setAutoDefault(true);
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
    setFixedColors(Text1, QPalette::Text, Qt::black, QPalette::Base, Qt::white);
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
    cmdDir->setAutoDefault(true);
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
    for (int port = 1; port < serial::MSComm::FirstAddedPort; ++port)
        cmbCom->addItem(QStringLiteral("COM %1").arg(port), port);
    refreshSystemPorts();
    selectPort(0);
    dump::setUpLinkForBox(MSComm1);

    Text2->setText(defaultTargetDirectory());
    replaceLog(QStringLiteral(R"(ACTIVATE THE "HOST - MODE" OF THE STB FIRST, CLICK OPEN THEN)") +
               kCrLf);
}

void Form1::refreshSystemPorts() {
    const std::vector<SystemPort> present = seams_.systemPorts();
    // A vanished device that the user has chosen stays, so the choice never changes behind
    // their back; opening it then says that it is not there.
    for (int index = cmbCom->count() - 1; index >= 0; --index) {
        if (index == cmbCom->currentIndex() || !cmbCom->itemData(index, kSystemListedRole).toBool())
            continue;
        if (!listsDevice(present, MSComm1.DeviceName(cmbCom->itemData(index).toInt())))
            cmbCom->removeItem(index);
    }
    for (const SystemPort& port : present) listSystemPort(port);
    fitListToEntries();
}

void Form1::listSystemPort(const SystemPort& port) {
    for (int number = 1; number < serial::MSComm::FirstAddedPort; ++number)
        if (MSComm1.DeviceName(number) == port.device) return;  // listed as "COM n" already
    const int number = MSComm1.AddDevice(port.device);
    if (cmbCom->findData(number) >= 0) return;
    cmbCom->addItem(portLabel(port), number);
    cmbCom->setItemData(cmbCom->count() - 1, true, kSystemListedRole);
}

int Form1::addPort(const QString& devicePath, const QString& label) {
    const int port = MSComm1.AddDevice(devicePath);
    // A device named twice (on the command line and by the system) keeps its one entry.
    int index = cmbCom->findData(port);
    if (index < 0) {
        cmbCom->addItem(label, port);
        index = cmbCom->count() - 1;
        fitListToEntries();
    }
    cmbCom->setItemData(index, false, kSystemListedRole);
    return index;
}

// Entries are longer than the field is wide; the open list shows them whole.
void Form1::fitListToEntries() {
    QAbstractItemView* list = cmbCom->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) +
                          list->verticalScrollBar()->sizeHint().width());
}

// The field shows the beginning of a long name, which tells entries apart; the tool tip names
// the whole entry.
void Form1::showWholePortName() {
    cmbCom->lineEdit()->home(false);
    const bool addedDevice = cmbCom->currentData().toInt() >= serial::MSComm::FirstAddedPort;
    cmbCom->setToolTip(addedDevice ? kPortToolTip + QLatin1Char('\n') + cmbCom->currentText()
                                   : kPortToolTip);
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
    if (port < serial::MSComm::FirstAddedPort) return comPrefix + QString::number(port);
    return MSComm1.DeviceName(port);
}

bool Form1::OpenPort(int port) {
    try {
        MSComm1.setCommPort(port);
        MSComm1.setPortOpen(true);
    } catch (const serial::CommError& error) {
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

void Form1::reportOpenFailure(int port, const serial::CommError& error) {
    const QString name = portName(port, QStringLiteral("COM "));
    const QString caption = QStringLiteral("Error opening ") + name;
    switch (error.number()) {
        case serial::CommError::NoSuchPort:
            showMessage(QStringLiteral("Serial port %1 not present.").arg(name), caption);
            return;
        case serial::CommError::PortInUse:
            showMessage(QStringLiteral("%1 blocked by another application.").arg(name), caption);
            return;
        default:
            break;
    }
    QString text = QStringLiteral("Serial port %1 cannot be opened: %2.").arg(name, error.reason());
    if (error.number() == serial::CommError::AccessDenied)
        text += QStringLiteral("\n\n") + serial::accessDeniedHint();
    showMessage(text, caption);
}

void Form1::ClosePort(int) {
    if (MSComm1.PortOpen()) {
        Shape1->setFillColor(kLinkClosedColor);
        MSComm1.setPortOpen(false);
        appendLog(QLatin1String(dump::kPortClosedLog));
    }
    acknowledgementQueued_ = false;
    setLinkControls(false);
}

void Form1::setLinkControls(bool linkOpen) {
    // Disabling the focused button would pass the focus on to the log; it goes to the button
    // that is one key away from what comes next instead: Close during a run, Open after it.
    const bool focusOnLinkButton = focusWidget() == Command1 || focusWidget() == Command2;
    cmdDir->setEnabled(!linkOpen);
    cmbCom->setEnabled(!linkOpen);
    Command1->setEnabled(!linkOpen);
    Command2->setEnabled(linkOpen);
    Text2->setEnabled(!linkOpen);
    if (focusOnLinkButton) (linkOpen ? Command2 : Command1)->setFocus();
}

void Form1::Command1_Click() {
    sFileName = QLatin1String(dump::kImageFileName);
    lCheckSum = 0;
    if (Text2->text().isEmpty()) {
        showMessage(QStringLiteral("Select a directory for saving data first."), kErrorCaption);
        return;
    }
    if (cmbCom->currentIndex() == -1 && !takeTypedPort()) return;
    runPort_ = selectedPort();
    if (!OpenPort(runPort_)) {
        ClosePort(runPort_);
        return;
    }
    replaceLog(QLatin1String(dump::kRequestLog));
    imagePath_ = dump::imagePathIn(Text2->text(), sFileName);
    dumpRun_.start(imagePath_);
    awaitedStage_ = dumpRun_.protocol().stage();
    silenceTimer_.start(patience_);
}

bool Form1::takeTypedPort() {
    const QString typed = cmbCom->currentText();
    if (typed.isEmpty()) {
        showMessage(QStringLiteral("Select a serial port first."), kErrorCaption);
        return false;
    }
    const int index = portEntryFor(typed);
    if (index < 0) {
        showMessage(QStringLiteral("No such port: %1").arg(typed), kErrorCaption);
        return false;
    }
    selectPort(index);
    return true;
}

int Form1::portEntryFor(const QString& typed) {
    for (int index = 0; index < cmbCom->count(); ++index) {
        if (cmbCom->itemText(index) == typed ||
            MSComm1.DeviceName(cmbCom->itemData(index).toInt()) == typed)
            return index;
    }
    if (const int number = serial::MSComm::ComPortNumber(typed); number > 0)
        return cmbCom->findData(number);
    return isSerialDevice(typed) ? addPort(typed, typed) : -1;
}

bool Form1::isSerialDevice(const QString& path) const {
    return isCharacterDevice(path) || listsDevice(seams_.systemPorts(), path);
}

void Form1::dumpFinished(const dump::DumpRun::Result& result) {
    silenceTimer_.stop();
    switch (result.outcome) {
        case dump::DumpRun::Outcome::Cancelled:
            return;  // whoever closed the link has restored the controls already
        case dump::DumpRun::Outcome::Saved:
        case dump::DumpRun::Outcome::ChecksumMismatch:
            showResult(result);
            acknowledgementQueued_ = true;
            break;
        case dump::DumpRun::Outcome::WriteFailed:
            showResult(result);
            showMessage(QStringLiteral("The image could not be saved as %1: %2.")
                            .arg(imagePath_, result.detail),
                        kErrorCaption);
            break;
        case dump::DumpRun::Outcome::LinkLost:
            break;  // onLinkLost() tells
        case dump::DumpRun::Outcome::TimedOut:
            appendLog(kCrLf + QStringLiteral("The box did not answer: %1").arg(result.detail) +
                      kCrLf);
            break;
    }
    if (!result.acknowledgementFailure.isEmpty())
        appendLog(acknowledgementFailureLine(result.acknowledgementFailure));
    ClosePort(runPort_);
}

void Form1::showResult(const dump::DumpRun::Result& result) {
    if (!result.reply) return;
    bytData = result.reply->data();
    lCheckSum = result.reply->dataSum();
    // One append for the whole listing: the log widget is slow to grow byte by byte.
    appendLog(dump::dumpResultLog(result) + dump::storedImageLog(result.stored, *result.reply));
}

// Also after a run has ended: a box unplugged while a message box is open, or a closing port
// that cannot send the acknowledgement any more, must not leave the lamp green.
void Form1::onLinkLost(const QString& reason) {
    Shape1->setFillColor(kLinkClosedColor);
    appendLog(acknowledgementQueued_
                  ? acknowledgementFailureLine(reason)
                  : kCrLf +
                        dump::linkLostSentence(portName(runPort_, QStringLiteral("COM ")), reason) +
                        kCrLf);
}

void Form1::noticeProgress() {
    if (!dumpRun_.running() || dumpRun_.protocol().stage() == awaitedStage_) return;
    awaitedStage_ = dumpRun_.protocol().stage();
    silenceTimer_.start(patience_);
}

void Form1::remindOfHostMode() {
    if (!dumpRun_.running()) return;
    appendLog(QStringLiteral("The box has not answered yet; still waiting for %1. Check that "
                             "the box is in \"HOST - MODE\".")
                  .arg(dumpRun_.awaited()) +
              kCrLf);
}

void Form1::interruptRun() {
    if (!MSComm1.PortOpen()) return;
    appendLog(QStringLiteral("Interrupted") + kCrLf);
    ClosePort(selectedPort());
}

void Form1::Command2_Click() { ClosePort(selectedPort()); }

QString Form1::BrowseForFolder(const QString& sTitle) {
    return seams_.chooseFolder(this, sTitle, Text2->text());
}

void Form1::cmdDir_Click() {
    Text2->setText(BrowseForFolder(kDirectoryTitle) + QDir::separator());
    const QString chosen = Text2->text();
    if (chosen.isEmpty() || chosen == QString(QDir::separator()))
        Text2->setText(defaultTargetDirectory());
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

}  // namespace tessaly::window
