#include "window/Form1.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFrame>
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
#include <QTextCharFormat>
#include <QTextCursor>
#include <QUrl>
#include <QVersionNumber>
#include <algorithm>
#include <utility>

#include "Version.h"
#include "window/PortList.h"
#include "window/TargetDirectory.h"

// The images live in this static library; nothing would link their registration otherwise.
static void registerResources() { Q_INIT_RESOURCE(tessaly); }

namespace tessaly::window {

namespace {

const QColor kWindowBackground(224, 224, 224);
const QColor kLinkOpenColor(0, 255, 0);
const QColor kLinkClosedColor(255, 0, 0);
const QUrl kProjectAddress(QStringLiteral("https://tessaly.example.org/"));
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

QFont designFont(const QString& family, QFont::StyleHint hint) {
    QFont font(family);
    font.setStyleHint(hint);
    font.setPointSizeF(kUiPointSize);
    return font;
}

// A narrow sans serif: the controls are sized for the classic 8 pt dialog font, and wider faces
// would clip their captions.
QFont arial(bool bold = false, bool underline = false) {
    QFont font = designFont(QStringLiteral("Arial"), QFont::SansSerif);
    font.setBold(bold);
    font.setUnderline(underline);
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
QLabel* colouredLabel(const QString& text, QWidget* container, const QColor& color,
                      const QFont& font) {
    auto* label = new QLabel(text, container);
    label->setFont(font);
    const bool darkGround = container->palette().color(QPalette::Window).lightness() < 160;
    setFixedColors(label, QPalette::WindowText, color, QPalette::Window, kWindowBackground);
    label->setAutoFillBackground(darkGround);
    return label;
}

QGroupBox* frame(const QString& title, QWidget* window) {
    auto* box = new QGroupBox(title, window);
    box->setAutoFillBackground(true);
    return box;
}

// Return and Enter press the focused button, as Space does.
QPushButton* button(const QString& caption, QWidget* container) {
    auto* pushButton = new QPushButton(caption, container);
    pushButton->setAutoDefault(true);
    return pushButton;
}

// Lines and outlines drawn in a colour of the scheme; they take no input.
QFrame* decoration(QFrame::Shape shape, QPalette::ColorRole role, QWidget* container) {
    auto* frame = new QFrame(container);
    frame->setFrameStyle(shape | QFrame::Plain);
    frame->setForegroundRole(role);
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    return frame;
}

// The product name with major and minor version, as the About frame shows it.
QString productCaption() {
    const QVersionNumber version = QVersionNumber::fromString(QLatin1String(kFileVersion));
    return QStringLiteral("%1 %2.%3")
        .arg(QLatin1String(kProductName))
        .arg(version.majorVersion())
        .arg(version.minorVersion());
}

QPlainTextEdit* createLog(QWidget* window) {
    auto* log = new QPlainTextEdit(window);
    log->setFont(designFont(QStringLiteral("Courier New"), QFont::TypeWriter));
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab moves on to the next control, as in every other field of the window.
    log->setTabChangesFocus(true);
    setFixedColors(log, QPalette::Text, Qt::black, QPalette::Base, Qt::white);
    return log;
}

// A damaged dump in red and bold, a changed byte on a coloured ground. Both stay readable because
// the log keeps its white ground under any scheme.
QTextCharFormat formatOf(dump::LogMark mark) {
    QTextCharFormat format;
    if (mark == dump::LogMark::Damage) {
        format.setForeground(QColor(204, 0, 0));
        format.setFontWeight(QFont::Bold);
    } else {
        format.setForeground(Qt::black);
        format.setBackground(QColor(255, 214, 102));
    }
    return format;
}

// The program's texts end lines with CR LF; the text box keeps plain line breaks.
QString toWidgetText(QString text) { return text.replace(kCrLf, QStringLiteral("\n")); }

}  // namespace

Indicator::Indicator(QColor fill, QWidget* parent) : QWidget(parent), fill_(fill) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Indicator::setFillColor(QColor fill) {
    if (fill == fill_) return;
    fill_ = fill;
    update();
}

void Indicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill_);
    // The largest circle the area holds, centred, with the rim inside the area.
    const int diameter = qMin(width(), height()) - 1;
    painter.drawEllipse(
        QRectF((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter, diameter));
}

Form1::Form1(Seams seams) : seams_(std::move(seams)) {
    registerResources();
    setWindowTitle(QLatin1String(kProductName));
    QIcon icon;
    icon.addFile(QStringLiteral(":/tessaly-16.png"));
    icon.addFile(QStringLiteral(":/tessaly-32.png"));
    setWindowIcon(icon);
    setFont(arial());
    setFixedSize(px(7410), px(5220));
    createControls();
    QWidget::setTabOrder(targetDirectory, directoryButton);
    QWidget::setTabOrder(directoryButton, portList);
    QWidget::setTabOrder(portList, openButton);
    QWidget::setTabOrder(openButton, closeButton);
    QWidget::setTabOrder(closeButton, log);
    targetDirectory->setFocus();
    webLink->installEventFilter(this);
    connect(directoryButton, &QPushButton::clicked, this, &Form1::directoryClicked);
    loaded();
}

void Form1::createControls() {
    auto* serialFrame = frame(QStringLiteral("Serial Port"), this);
    portList = new PortCombo(serialFrame);
    auto* controlFrame = frame(QStringLiteral("COM Control"), this);
    openButton = button(QStringLiteral("Open"), controlFrame);
    closeButton = button(QStringLiteral("Close"), controlFrame);
    closeButton->setEnabled(false);
    linkLamp = new Indicator(kLinkClosedColor, controlFrame);
    auto* aboutFrame = frame(QStringLiteral("About"), this);
    // The lines stand for the active window border, which the palette lacks; Mid comes closest.
    auto* divider = decoration(QFrame::VLine, QPalette::Mid, aboutFrame);
    auto* rule = decoration(QFrame::HLine, QPalette::Mid, aboutFrame);
    auto* purpose = new QLabel(QStringLiteral("Reads the content of EEPROM"), aboutFrame);
    auto* product = colouredLabel(productCaption(), aboutFrame, Qt::black, arial(true));
    auto* authorship =
        colouredLabel(QStringLiteral("(c) 2026 Tessaly team"), aboutFrame, Qt::black, arial());
    webLink =
        colouredLabel(kProjectAddress.host(), aboutFrame, QColor(0, 0, 255), arial(false, true));
    webLink->setCursor(QCursor(QPixmap(QStringLiteral(":/pointing-hand.png")), 12, 1));
    auto* logOutline = decoration(QFrame::Box, QPalette::Shadow, this);
    log = createLog(this);
    auto* targetOutline = decoration(QFrame::Box, QPalette::Shadow, this);
    auto* saveTo = colouredLabel(QStringLiteral("Save to"), this, Qt::black, arial());
    targetDirectory = new QLineEdit(this);
    directoryButton = button(QStringLiteral("Directory"), this);

    // The design: each control's name, which stays its object name, and its place in twips
    // inside its container.
    const struct {
        QWidget* control;
        const char* name;
        QRect geometry;
    } design[] = {
        {serialFrame, "Frame1", twipsRect(30, 0, 1545, 855)},
        {portList, "cmbCom", twipsRect(240, 360, 1095, 315)},
        {controlFrame, "Frame2", twipsRect(1570, 0, 1920, 855)},
        {openButton, "Command1", twipsRect(120, 360, 615, 350)},
        {closeButton, "Command2", twipsRect(840, 360, 615, 350)},
        {linkLamp, "Shape1", twipsRect(1560, 390, 255, 255)},
        {aboutFrame, "Frame3", twipsRect(3510, 0, 3855, 855)},
        {purpose, "Label1", twipsRect(120, 195, 2295, 255)},
        {divider, "Line1", twipsLine(2450, 120, 2450, 480)},
        {product, "Label7", twipsRect(2540, 195, 1215, 255)},
        {rule, "Line2", twipsLine(0, 480, 3840, 480)},
        {authorship, "Label4", twipsRect(0, 555, 1815, 255)},
        {webLink, "Label6", twipsRect(1920, 555, 1815, 255)},
        {logOutline, "Shape2", twipsRect(30, 885, 7320, 3690)},
        {log, "Text1", twipsRect(120, 960, 7095, 3495)},
        {targetOutline, "Shape4", twipsRect(30, 4560, 7320, 615)},
        {saveTo, "Label3", twipsRect(240, 4725, 615, 255)},
        {targetDirectory, "Text2", twipsRect(960, 4680, 5175, 330)},
        {directoryButton, "cmdDir", twipsRect(6240, 4670, 855, 375)},
    };
    for (const auto& [control, name, geometry] : design) {
        control->setObjectName(QLatin1String(name));
        control->setGeometry(geometry);
    }
}

void Form1::loaded() {
    targetDirectory->setText(defaultTargetDirectory());
    replaceLog(QStringLiteral(R"(ACTIVATE THE "HOST - MODE" OF THE STB FIRST, CLICK OPEN THEN)") +
               kCrLf);
}

void Form1::setLinkControls(bool linkOpen) {
    // Disabling the focused button would pass the focus on to the log; it goes to the button
    // that is one key away from what comes next instead: Close during a run, Open after it.
    const bool focusOnLinkButton = focusWidget() == openButton || focusWidget() == closeButton;
    directoryButton->setEnabled(!linkOpen);
    portList->setEnabled(!linkOpen);
    openButton->setEnabled(!linkOpen);
    closeButton->setEnabled(linkOpen);
    targetDirectory->setEnabled(!linkOpen);
    if (focusOnLinkButton) (linkOpen ? closeButton : openButton)->setFocus();
}

void Form1::showLinkOpen(bool open) {
    linkLamp->setFillColor(open ? kLinkOpenColor : kLinkClosedColor);
}

// The platform's folder chooser, opened at the current target; cancelling it goes back to the
// program's own directory.
void Form1::directoryClicked() {
    const QString chosen = seams_.chooseFolder(this, kDirectoryTitle, targetDirectory->text());
    if (chosen.isEmpty())
        targetDirectory->setText(defaultTargetDirectory());
    else
        setTargetFolder(chosen);
}

void Form1::setTargetFolder(const QString& folder) {
    targetDirectory->setText(folder + QDir::separator());
    if (const QString problem = whyFolderCannotTakeImage(targetDirectory->text());
        !problem.isEmpty())
        showMessage(problem, kErrorCaption);
}

void Form1::linkClicked() { seams_.openUrl(kProjectAddress); }

void Form1::showMessage(const QString& text, const QString& caption) {
    seams_.showMessage(this, text, caption);
}

QString Form1::logText() const { return log->toPlainText().replace(QLatin1Char('\n'), kCrLf); }

void Form1::appendLog(const QString& text, const std::vector<dump::LogStretch>& stretches) {
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    const int start = cursor.position();
    cursor.insertText(toWidgetText(text));
    // The log holds a plain line break where the text has CR LF.
    const auto at = [&](qsizetype position) {
        return start + int(position - QStringView(text).left(position).count(kCrLf));
    };
    for (const dump::LogStretch& stretch : stretches) {
        cursor.setPosition(at(stretch.from));
        cursor.setPosition(at(stretch.from + stretch.length), QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(formatOf(stretch.mark));
    }
    log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
}

void Form1::replaceLog(const QString& text) { log->setPlainText(toWidgetText(text)); }

void Form1::closeEvent(QCloseEvent* event) {
    emit unloading();
    event->accept();
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kWindowBackground);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == webLink && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            webLink->rect().contains(mouse->position().toPoint()))
            linkClicked();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tessaly::window
