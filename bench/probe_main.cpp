// tessaly-bench-probe: the measurements that need to look inside the program, each printed as
// "name value" lines for bench/run: the window's first paint, its processor use while it waits
// for a silent box, its reaction to the last reply byte, and the exchange time of a dump.
// It judges nothing; bench/run compares the figures with their targets.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>

#include "BoundedWait.h"
#include "dump/DumpLog.h"
#include "dump/DumpRun.h"
#include "dump/ImageFile.h"
#include "serial/SerialLink.h"
#include "sim/SimulatedBox.h"
#include "window/DumpController.h"
#include "window/Form1.h"
#include "window/Seams.h"

namespace {

using namespace std::chrono_literals;
using namespace tessaly::window;
using tessaly::bench::BoundedWait;
using tessaly::dump::DumpRun;
using tessaly::sim::StbSimulator;

struct ProbeFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Flushed at once: bench/run times the first line as the moment the window was shown.
void report(const char* name, double value) {
    std::printf("%s %.3f\n", name, value);
    std::fflush(stdout);
}

double milliseconds(qint64 nanoseconds) { return double(nanoseconds) / 1e6; }

// Calls `react` for every event of one type that reaches `target`.
class EventHook : public QObject {
public:
    EventHook(QObject* target, QEvent::Type type, std::function<void()> react)
        : QObject(target), type_(type), react_(std::move(react)) {
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == type_) react_();
        return false;
    }

private:
    QEvent::Type type_;
    std::function<void()> react_;
};

// Nobody sits at the screen: a message box would block, so it is printed and ends the probe
// (at once: an exception must not travel through the toolkit's signal dispatch).
Seams headlessDesktop() {
    Seams seams;
    seams.showMessage = [](QWidget*, const QString& text, const QString& caption) {
        std::fprintf(stderr, "tessaly-bench-probe: the window showed \"%s\": %s\n",
                     qPrintable(caption), qPrintable(text));
        std::exit(1);
    };
    seams.openUrl = [](const QUrl&) {};
    seams.chooseFolder = [](QWidget*, const QString&, const QString&) { return QString(); };
    seams.systemPorts = [] { return std::vector<tessaly::serial::SystemPort>(); };
    return seams;
}

template <typename Widget>
Widget* controlOf(QWidget& window, const char* name) {
    auto* control = window.findChild<Widget*>(QString::fromLatin1(name));
    if (!control) throw ProbeFailure(std::string("the window has no control ") + name);
    return control;
}

// The window as a technician leaves it before pressing Open: the box's port selected and a
// target directory chosen.
class WindowSession {
public:
    WindowSession(const StbSimulator& box, const QString& directory)
        : form_(headlessDesktop()), controller_(form_) {
        controller_.ports().selectPort(
            controller_.ports().addPort(box.devicePath(), QStringLiteral("simulated box")));
        controlOf<QLineEdit>(form_, "Text2")
            ->setText(QDir::toNativeSeparators(directory) + QDir::separator());
        imagePath_ = QDir(directory).filePath(QLatin1StringView(tessaly::dump::kImageFileName));
        form_.show();
    }

    Form1& form() { return form_; }
    const DumpController& controller() const { return controller_; }
    QPlainTextEdit* log() { return controlOf<QPlainTextEdit>(form_, "Text1"); }
    const QString& imagePath() const { return imagePath_; }
    void clickOpen() { controlOf<QPushButton>(form_, "Command1")->click(); }
    void clickClose() { controlOf<QPushButton>(form_, "Command2")->click(); }

private:
    Form1 form_;
    DumpController controller_;
    QString imagePath_;
};

// What a box serves unless told otherwise.
QByteArray servedImage() {
    const auto image = tessaly::sim::SimOptions::recognisableImage();
    return QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()));
}

qint64 processCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// From before the window is built to its first paint.
void measureWindowStart(bool bareWidget) {
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QWidget> window;
    std::unique_ptr<DumpController> controller;
    if (bareWidget) {
        window = std::make_unique<QWidget>();
        window->resize(480, 360);
    } else {
        auto form = std::make_unique<Form1>(headlessDesktop());
        controller = std::make_unique<DumpController>(*form);
        window = std::move(form);
    }
    BoundedWait painted(10s);
    qint64 firstPaintNs = 0;
    EventHook hook(window.get(), QEvent::Paint, [&] {
        if (firstPaintNs == 0) firstPaintNs = clock.nsecsElapsed();
        painted.finish();
    });
    window->show();
    if (!painted.run()) throw ProbeFailure("the window was never painted");
    report("first_paint_ms", milliseconds(firstPaintNs));
}

// The window waits for "PC___" from a box that never sends it.
void measureWindowWait(int seconds) {
    constexpr int kOpeningBytes = 76;  // messages 1 to 5
    tessaly::sim::SimOptions options;
    options.silentAfterMessage = 5;
    StbSimulator box(options);
    QTemporaryDir directory;
    WindowSession window(box, directory.path());

    BoundedWait asked(10s);
    QObject::connect(&box, &StbSimulator::received, [&] {
        if (box.transcript().size() >= kOpeningBytes) asked.finish();
    });
    window.clickOpen();
    if (!asked.run()) throw ProbeFailure("the window did not send its opening messages");

    const qint64 cpuBefore = processCpuNs();
    QElapsedTimer wall;
    wall.start();
    BoundedWait idle(std::chrono::seconds(seconds + 10));
    QTimer::singleShot(std::chrono::seconds(seconds), [&] { idle.finish(); });
    idle.run();
    const qint64 cpuNs = processCpuNs() - cpuBefore;
    const qint64 wallNs = wall.nsecsElapsed();

    if (!window.controller().portOpen())
        throw ProbeFailure("the window stopped waiting for the silent box");
    window.clickClose();
    report("wait_wall_ms", milliseconds(wallNs));
    report("wait_cpu_ms", milliseconds(cpuNs));
    report("wait_cpu_percent", 100.0 * double(cpuNs) / double(wallNs));
}

// From the box writing the last reply byte to the window having saved the file, shown the
// listing with the closing line, and painted its log; also the processor time this took, which
// tells work from waiting for a busy processor. One unmeasured dump warms up first.
void measureWindowReaction(int runs) {
    static const QString kClosedLine = QStringLiteral("Serial port closed.\r\n");
    StbSimulator box;
    QTemporaryDir directory;
    WindowSession window(box, directory.path());
    QElapsedTimer clock;
    clock.start();
    qint64 lastByteNs = 0;
    qint64 savedNs = 0;
    qint64 paintedNs = 0;
    qint64 cpuAtLastByteNs = 0;
    qint64 cpuAtPaintNs = 0;
    std::unique_ptr<BoundedWait> shown;

    QObject::connect(&box, &StbSimulator::replySent, [&] {
        lastByteNs = clock.nsecsElapsed();
        cpuAtLastByteNs = processCpuNs();
    });
    QObject::connect(window.log(), &QPlainTextEdit::textChanged, [&] {
        if (lastByteNs == 0 || savedNs != 0) return;
        if (window.form().logText().endsWith(kClosedLine) && QFile::exists(window.imagePath()))
            savedNs = clock.nsecsElapsed();
    });
    EventHook hook(window.log()->viewport(), QEvent::Paint, [&] {
        if (savedNs == 0 || paintedNs != 0) return;
        paintedNs = clock.nsecsElapsed();
        cpuAtPaintNs = processCpuNs();
        shown->finish();
    });

    for (int run = 0; run <= runs; ++run) {
        QFile::remove(window.imagePath());
        lastByteNs = savedNs = paintedNs = 0;
        shown = std::make_unique<BoundedWait>(10s);
        window.clickOpen();
        if (!shown->run()) throw ProbeFailure("the window did not show a saved dump");
        QFile image(window.imagePath());
        if (!image.open(QIODevice::ReadOnly) || image.readAll() != servedImage())
            throw ProbeFailure("the window saved something else than the box's image");
        if (run == 0) continue;
        report("saved_ms", milliseconds(savedNs - lastByteNs));
        report("painted_ms", milliseconds(paintedNs - lastByteNs));
        report("painted_cpu_ms", milliseconds(cpuAtPaintNs - cpuAtLastByteNs));
    }
}

// DumpRun::start to finished, against a box in another process (bench/run paces it).
void measureExchange(const QString& device, int runs) {
    QTemporaryDir directory;
    const QString imagePath = QDir(directory.path()).filePath(tessaly::dump::kImageFileName);
    tessaly::serial::SerialLink link;
    DumpRun run(link);
    run.setWaitLimit(10s);
    std::unique_ptr<BoundedWait> done;
    DumpRun::Outcome outcome{};
    QObject::connect(&run, &DumpRun::finished, [&](const DumpRun::Result& result) {
        outcome = result.outcome;
        done->finish();
    });

    for (int i = 0; i < runs; ++i) {
        link.open(device);
        done = std::make_unique<BoundedWait>(30s);
        QElapsedTimer clock;
        clock.start();
        run.start(imagePath);
        const bool ended = done->run();
        const qint64 elapsedNs = clock.nsecsElapsed();
        link.close();
        if (!ended || outcome != DumpRun::Outcome::Saved)
            throw ProbeFailure("a dump from " + device.toStdString() + " did not succeed");
        report("exchange_ms", milliseconds(elapsedNs));
    }
}

int positiveValue(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 1)
        throw ProbeFailure(("--" + name + " takes a whole number from 1 up").toStdString());
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures inside the program for bench/run and prints \"name value\" lines.\n"
        "Measures:\n"
        "  window-start [--bare]   build the window (or an empty widget) until its first paint\n"
        "  window-wait             processor use while the window waits for a silent box\n"
        "  window-reaction         last reply byte to file saved and listing painted\n"
        "  exchange --port DEVICE  DumpRun::start to finished against a box on DEVICE"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("measure"), QStringLiteral("What to measure."));
    parser.addOptions({
        {QStringLiteral("bare"), QStringLiteral("window-start: an empty widget instead.")},
        {QStringLiteral("seconds"), QStringLiteral("window-wait: how long."), QStringLiteral("n"),
         QStringLiteral("5")},
        {QStringLiteral("runs"), QStringLiteral("Measured repetitions."), QStringLiteral("n"),
         QStringLiteral("21")},
        {QStringLiteral("port"), QStringLiteral("exchange: the box's device."),
         QStringLiteral("device")},
    });
    parser.process(app);

    try {
        const QString measure = parser.positionalArguments().value(0);
        if (measure == u"window-start")
            measureWindowStart(parser.isSet(QStringLiteral("bare")));
        else if (measure == u"window-wait")
            measureWindowWait(positiveValue(parser, QStringLiteral("seconds")));
        else if (measure == u"window-reaction")
            measureWindowReaction(positiveValue(parser, QStringLiteral("runs")));
        else if (measure == u"exchange" && parser.isSet(QStringLiteral("port")))
            measureExchange(parser.value(QStringLiteral("port")),
                            positiveValue(parser, QStringLiteral("runs")));
        else
            throw ProbeFailure("unknown measure; see --help");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "tessaly-bench-probe: %s\n", failure.what());
        return 1;
    }
    return 0;
}
