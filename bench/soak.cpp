// tessaly-soak: dumps from a randomized hostile box, one after another over one link and one dump
// run, as the window does them. After every run it checks what a technician relies on: success
// only for the box's exact data with a matching checksum, an earlier image never damaged by a
// failed run, every run ending with the port free again, and the host's bytes exactly right.
#include <CommError.h>
#include <DumpLog.h>
#include <DumpRun.h>
#include <MSComm.h>
#include <StbSimulator.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <random>

#include "BoundedWait.h"

namespace {

using namespace std::chrono_literals;
using tessaly::CommError;
using tessaly::DumpRun;
using tessaly::MSComm;
using tessaly::bench::BoundedWait;
using tessaly::dump::Stage;
using tessaly::sim::SimOptions;
using tessaly::sim::StbSimulator;
using Outcome = DumpRun::Outcome;

// A run that takes longer than this has hung: no hostile box needs more than a second.
constexpr auto kRunBound = 10s;
// How long the box may take to read what the host sent before the link closed.
constexpr auto kHearingBound = 2s;

// Bytes the host has sent once it waits in a stage: messages 1 to 5, then 6, 7 and 8 to 10; the
// acknowledgement follows the reply.
int bytesSentBy(Stage reached, bool checksumRight) {
    switch (reached) {
        case Stage::NotStarted:
        case Stage::Cancelled:
            return 0;
        case Stage::AwaitingPcReady:
            return 76;
        case Stage::AwaitingStartBlock:
            return 97;
        case Stage::AwaitingBlock:
            return 112;
        case Stage::AwaitingReply:
        case Stage::ReplyReceived:
            return 148;
        case Stage::Acknowledged:
            return 148 + (checksumRight ? 20 : 17);
    }
    return 0;
}

QString stageName(Stage stage) {
    switch (stage) {
        case Stage::NotStarted:
            return QStringLiteral("not started");
        case Stage::AwaitingPcReady:
            return QStringLiteral("waiting for \"PC___\"");
        case Stage::AwaitingStartBlock:
            return QStringLiteral("waiting for \"0000\"");
        case Stage::AwaitingBlock:
            return QStringLiteral("waiting for \"1984\"");
        case Stage::AwaitingReply:
            return QStringLiteral("waiting for the reply");
        case Stage::ReplyReceived:
            return QStringLiteral("reply received");
        case Stage::Acknowledged:
            return QStringLiteral("acknowledged");
        case Stage::Cancelled:
            return QStringLiteral("cancelled");
    }
    return {};
}

// mm:ss, for progress lines.
QString clockText(qint64 ms) {
    return QStringLiteral("%1:%2").arg(ms / 60000).arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'));
}

QString outcomeName(Outcome outcome) {
    return QString::fromLatin1(QMetaEnum::fromType<Outcome>().valueToKey(int(outcome)));
}

enum class Interrupt { None, UserCloses, BoxHangsUp };

// Everything random about one run, drawn from the soak's seed and the run's number alone.
struct Scenario {
    int run = 0;
    SimOptions box;
    std::chrono::milliseconds waitLimit{};
    Interrupt interrupt = Interrupt::None;
    // The interruption comes at the link's n-th arrival of bytes; 0: right after the start.
    int interruptAfterArrivals = 0;
    std::optional<QByteArray> earlierImage;
    bool unwritableTarget = false;
};

class Dice {
public:
    Dice(std::uint32_t seed, int run) {
        std::seed_seq sequence{seed, std::uint32_t(run)};
        random_.seed(sequence);
    }

    bool chance(double probability) { return std::bernoulli_distribution(probability)(random_); }
    int between(int lowest, int highest) {
        return std::uniform_int_distribution<int>(lowest, highest)(random_);
    }
    std::uint32_t word() { return std::uint32_t(random_()); }
    QByteArray bytes(int count) {
        QByteArray drawn(count, '\0');
        for (char& byte : drawn) byte = char(between(0, 255));
        return drawn;
    }

private:
    std::mt19937 random_;
};

// Left-over bytes from an earlier session, tokens among them, that a host must not act on.
QByteArray staleBytes(Dice& dice) {
    static const QByteArray kPieces[] = {"PC___", "0000", "1984", "\r\n"};
    QByteArray stale;
    for (int piece = dice.between(1, 6); piece > 0; --piece)
        stale += dice.chance(0.5) ? kPieces[dice.between(0, 3)] : dice.bytes(dice.between(1, 40));
    return stale;
}

std::array<std::uint8_t, 1024> drawImage(Dice& dice) {
    std::array<std::uint8_t, 1024> image{};
    if (dice.chance(0.05)) {
        image.fill(0xFF);  // an erased EEPROM: its checksum byte is 0
    } else if (dice.chance(0.05)) {
        image.fill(0x00);
    } else {
        for (std::uint8_t& byte : image) byte = std::uint8_t(dice.between(0, 255));
    }
    return image;
}

Scenario drawScenario(std::uint32_t seed, int run) {
    Dice dice(seed, run);
    Scenario scenario;
    scenario.run = run;
    SimOptions& box = scenario.box;
    box.image = drawImage(dice);
    box.splitTokens = dice.chance(0.25);
    if (dice.chance(0.25)) box.noiseBeforeTokens = dice.between(1, 4096);
    box.lowerCaseTokens = dice.chance(0.04);
    box.wrongChecksum = dice.chance(0.15);
    if (dice.chance(0.08)) box.silentAfterMessage = dice.between(1, 10);
    if (dice.chance(0.08)) box.disconnectAfterReplyBytes = dice.between(0, 1024);
    if (dice.chance(0.2)) box.extraReplyBytes = dice.between(1, 64);
    if (dice.chance(0.2)) box.staleBytes = staleBytes(dice);
    // Fast enough that 4 KiB of noise still fits well inside the shortest wait limit.
    if (dice.chance(0.05)) box.baud = 921600;
    box.seed = dice.word();
    scenario.waitLimit = std::chrono::milliseconds(dice.between(100, 250));
    const int interrupt = dice.between(0, 9);
    scenario.interrupt = interrupt == 0   ? Interrupt::UserCloses
                         : interrupt == 1 ? Interrupt::BoxHangsUp
                                          : Interrupt::None;
    scenario.interruptAfterArrivals = dice.between(0, 12);
    scenario.unwritableTarget = dice.chance(0.03);
    if (!scenario.unwritableTarget && dice.chance(0.75))
        scenario.earlierImage = dice.bytes(dice.chance(0.7) ? 1024 : dice.between(1, 2048));
    return scenario;
}

// The hostile features of a scenario, named for the counts and the reports.
std::map<QString, QString> featuresOf(const Scenario& scenario) {
    const SimOptions& box = scenario.box;
    std::map<QString, QString> features;
    const auto add = [&](bool present, const char* name, const QString& detail = {}) {
        if (present) features[QString::fromLatin1(name)] = detail;
    };
    add(box.splitTokens, "tokens split");
    add(box.noiseBeforeTokens > 0, "noise before tokens",
        QStringLiteral("%1 bytes").arg(box.noiseBeforeTokens));
    add(box.lowerCaseTokens, "lower-case tokens");
    add(box.wrongChecksum, "wrong checksum");
    add(box.silentAfterMessage.has_value(), "silent after a message",
        QStringLiteral("message %1").arg(box.silentAfterMessage.value_or(0)));
    add(box.disconnectAfterReplyBytes.has_value(), "hang-up inside the reply",
        QStringLiteral("after %1 bytes").arg(box.disconnectAfterReplyBytes.value_or(0)));
    add(box.extraReplyBytes > 0, "overlong reply",
        QStringLiteral("%1 extra bytes").arg(box.extraReplyBytes));
    add(!box.staleBytes.isEmpty(), "stale bytes before the run",
        QStringLiteral("%1 bytes").arg(box.staleBytes.size()));
    add(box.baud > 0, "paced", QStringLiteral("%1 baud").arg(box.baud));
    const QString when = QStringLiteral("at arrival %1").arg(scenario.interruptAfterArrivals);
    add(scenario.interrupt == Interrupt::UserCloses, "user closes the link", when);
    add(scenario.interrupt == Interrupt::BoxHangsUp, "box hangs up", when);
    add(scenario.earlierImage.has_value(), "earlier image in place",
        QStringLiteral("%1 bytes").arg(scenario.earlierImage.value_or(QByteArray()).size()));
    add(scenario.unwritableTarget, "target directory missing");
    return features;
}

QString describe(const Scenario& scenario) {
    QStringList parts;
    for (const auto& [name, detail] : featuresOf(scenario))
        parts << (detail.isEmpty() ? name : name + QStringLiteral(" (") + detail + u')');
    parts << QStringLiteral("wait limit %1 ms").arg(scenario.waitLimit.count());
    return parts.join(QStringLiteral(", "));
}

// What the run must end with, given what the box does and whether an interruption came while
// the run was still waiting.
Outcome expectedOutcome(const Scenario& scenario, bool interrupted) {
    const SimOptions& box = scenario.box;
    if (interrupted)
        return scenario.interrupt == Interrupt::UserCloses ? Outcome::Cancelled : Outcome::LinkLost;
    if (box.lowerCaseTokens || box.silentAfterMessage) return Outcome::TimedOut;
    if (box.disconnectAfterReplyBytes) return Outcome::LinkLost;
    if (scenario.unwritableTarget) return Outcome::WriteFailed;
    return box.wrongChecksum ? Outcome::ChecksumMismatch : Outcome::Saved;
}

// What one run did, as far as the checks need it.
struct RunRecord {
    QString openFailure;
    bool ended = false;
    DumpRun::Result result;
    bool interrupted = false;
    // How far the host got before anything cancelled the run.
    Stage reached = Stage::AwaitingPcReady;
    QByteArray transcript;
    QStringList deviations;
    bool boxDestroyed = false;  // the transcript may then stop short of what the host sent
    bool boxHungUp = false;
    std::optional<QByteArray> imageBefore;
    std::optional<QByteArray> imageAfter;
    QStringList leftovers;
    std::optional<QByteArray> keptCopy;  // content of the one leftover, when there is one
    QString reopenFailure;
};

std::optional<QByteArray> fileContent(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

QByteArray imageOf(const SimOptions& box) {
    return QByteArray(reinterpret_cast<const char*>(box.image.data()), qsizetype(box.image.size()));
}

QString sizeText(const std::optional<QByteArray>& file) {
    return file ? QStringLiteral("%1 bytes").arg(file->size()) : QStringLiteral("no file");
}

QStringList violationsOf(const Scenario& scenario, const RunRecord& record) {
    if (!record.openFailure.isEmpty())
        return {QStringLiteral("the port could not be opened: ") + record.openFailure};
    QStringList violations;
    const auto violated = [&](const QString& what) { violations << what; };
    const Outcome outcome = record.result.outcome;
    const SimOptions& box = scenario.box;

    if (!record.ended)
        violated(QStringLiteral("the run did not end within %1 s").arg(kRunBound.count()));
    const Outcome expected = expectedOutcome(scenario, record.interrupted);
    if (outcome != expected)
        violated(QStringLiteral("outcome %1 (%2), expected %3")
                     .arg(outcomeName(outcome), record.result.detail, outcomeName(expected)));

    const QByteArray received = record.result.reply.left(qsizetype(tessaly::dump::kDataSize));
    if (outcome == Outcome::Saved) {
        if (box.wrongChecksum)
            violated(QStringLiteral("success for a reply with a wrong checksum"));
        if (record.imageAfter != imageOf(box))
            violated(QStringLiteral("success, but the file (%1) is not the box's 1024 bytes")
                         .arg(sizeText(record.imageAfter)));
    } else if (outcome == Outcome::ChecksumMismatch) {
        if (record.imageAfter != received)
            violated(QStringLiteral("checksum mismatch, but the file (%1) is not the 1024 bytes "
                                    "received")
                         .arg(sizeText(record.imageAfter)));
    } else if (record.imageAfter != record.imageBefore) {
        violated(
            QStringLiteral("the failed run (%1) changed the earlier image: %2 before, %3 after")
                .arg(outcomeName(outcome), sizeText(record.imageBefore),
                     sizeText(record.imageAfter)));
    }
    if (!record.result.reply.isEmpty() && received != imageOf(box))
        violated(QStringLiteral("the data received are not the box's data"));
    const bool replacedDiffering =
        (outcome == Outcome::Saved || outcome == Outcome::ChecksumMismatch) && record.imageBefore &&
        record.imageBefore != received;
    if (replacedDiffering && record.leftovers.size() == 1) {
        if (record.keptCopy != record.imageBefore)
            violated(QStringLiteral("the kept copy %1 does not hold the earlier image")
                         .arg(record.leftovers.front()));
    } else if (replacedDiffering || !record.leftovers.isEmpty()) {
        violated(QStringLiteral("left in the target directory: ") +
                 record.leftovers.join(QStringLiteral(", ")) +
                 (replacedDiffering ? QStringLiteral(" (expected one kept copy)") : QString()));
    }

    if (!record.deviations.isEmpty())
        violated(QStringLiteral("the box saw the host deviate: ") +
                 record.deviations.join(QStringLiteral("; ")));
    const int sent = bytesSentBy(record.reached, !box.wrongChecksum);
    const bool complete =
        record.boxDestroyed ? record.transcript.size() <= sent : record.transcript.size() == sent;
    if (!complete)
        violated(QStringLiteral("the box heard %1 bytes from the host, which had got to %2 and "
                                "so sent %3")
                     .arg(record.transcript.size())
                     .arg(stageName(record.reached))
                     .arg(sent));
    if (!record.reopenFailure.isEmpty())
        violated(QStringLiteral("the port could not be opened again at once: ") +
                 record.reopenFailure);
    return violations;
}

class Soak {
public:
    explicit Soak(bool describeRuns) : describeRuns_(describeRuns), dump_(link_) {
        tessaly::setUpLinkForBox(link_);
        if (!directory_.isValid()) throw std::runtime_error("no temporary directory");
    }

    // Runs one scenario and checks it; returns the violations found.
    QStringList runOne(const Scenario& scenario) {
        const RunRecord record = perform(scenario);
        if (describeRuns_) describeRun(scenario, record);
        const QStringList violations = violationsOf(scenario, record);
        count(scenario, record, !violations.isEmpty());
        return violations;
    }

    void printCounts() const {
        std::printf("outcomes:\n");
        for (const auto& [name, count] : outcomes_)
            std::printf("  %-28s %d\n", qPrintable(name), count);
        std::printf("hostile features (runs with each):\n");
        for (const auto& [name, count] : features_)
            std::printf("  %-28s %d\n", qPrintable(name), count);
        std::printf("interruptions that came while the run waited:\n");
        for (const auto& [name, count] : interruptions_)
            std::printf("  %-28s %d\n", qPrintable(name), count);
    }
    int runsWithViolations() const { return failedRuns_; }

private:
    RunRecord perform(const Scenario& scenario);
    void watchTranscript(const StbSimulator& box, const Scenario& scenario, RunRecord& record);
    void prepareTarget(const Scenario& scenario, const QString& imagePath);
    QStringList directoryEntries() const;
    void count(const Scenario& scenario, const RunRecord& record, bool failed);
    static void describeRun(const Scenario& scenario, const RunRecord& record);

    bool describeRuns_;
    QTemporaryDir directory_;
    MSComm link_;
    DumpRun dump_;
    std::map<QString, int> outcomes_;
    std::map<QString, int> features_;
    std::map<QString, int> interruptions_;
    int failedRuns_ = 0;
};

void Soak::prepareTarget(const Scenario& scenario, const QString& imagePath) {
    QDir target(directory_.path());
    for (const QString& entry : directoryEntries()) {
        if (!QFile::remove(target.filePath(entry)))
            QDir(target.filePath(entry)).removeRecursively();
    }
    if (!scenario.earlierImage) return;
    QFile earlier(imagePath);
    if (earlier.open(QIODevice::WriteOnly)) earlier.write(*scenario.earlierImage);
}

QStringList Soak::directoryEntries() const {
    return QDir(directory_.path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

RunRecord Soak::perform(const Scenario& scenario) {
    RunRecord record;
    const QDir target(directory_.path());
    const QString imagePath =
        scenario.unwritableTarget
            ? target.filePath(QStringLiteral("missing/") + tessaly::kImageFileName)
            : target.filePath(tessaly::kImageFileName);
    prepareTarget(scenario, imagePath);
    record.imageBefore = fileContent(imagePath);

    auto box = std::make_unique<StbSimulator>(scenario.box);
    QObject scope;  // ends every connection made for this run
    QObject::connect(box.get(), &StbSimulator::hungUp, &scope, [&] { record.boxHungUp = true; });
    link_.setCommPort(link_.AddDevice(box->devicePath()));
    try {
        link_.setPortOpen(true);
    } catch (const CommError& error) {
        record.openFailure = error.reason();
        return record;
    }

    BoundedWait ended(kRunBound);
    QObject::connect(&dump_, &DumpRun::finished, &scope, [&](const DumpRun::Result& result) {
        record.result = result;
        record.ended = true;
        // Closed at once, as the window and the command do: what is still queued must go out.
        if (link_.PortOpen()) link_.setPortOpen(false);
        ended.finish();
    });
    const auto interrupt = [&] {
        if (!dump_.running()) return;
        record.interrupted = true;
        if (scenario.interrupt == Interrupt::UserCloses) {
            link_.setPortOpen(false);
            return;
        }
        record.transcript = box->transcript();
        record.deviations = box->deviations();
        record.boxDestroyed = true;
        box.reset();
    };
    int arrivals = 0;
    QObject::connect(&link_, &MSComm::dataReceived, &scope, [&] {
        // Runs after the dump run's own handler, so the stage is what that read led to.
        if (dump_.protocol().stage() != Stage::Cancelled) record.reached = dump_.protocol().stage();
        if (scenario.interrupt != Interrupt::None && ++arrivals == scenario.interruptAfterArrivals)
            QTimer::singleShot(0, &scope, interrupt);
    });

    dump_.setWaitLimit(scenario.waitLimit);
    dump_.start(imagePath);
    if (scenario.interrupt != Interrupt::None && scenario.interruptAfterArrivals == 0)
        QTimer::singleShot(0, &scope, interrupt);
    const bool endedInTime = ended.run();
    if (link_.PortOpen()) link_.setPortOpen(false);
    record.ended = endedInTime;  // closing a hung run ends it, which must not hide the hang

    if (box) {
        watchTranscript(*box, scenario, record);
        if (!record.boxHungUp) {
            try {
                link_.setPortOpen(true);
                link_.setPortOpen(false);
            } catch (const CommError& error) {
                record.reopenFailure = error.reason();
            }
        }
    }
    record.imageAfter = fileContent(imagePath);
    record.leftovers = directoryEntries();
    record.leftovers.removeOne(QLatin1StringView(tessaly::kImageFileName));
    if (record.leftovers.size() == 1)
        record.keptCopy = fileContent(target.filePath(record.leftovers.front()));
    return record;
}

// The box reads what the host sent in its own time; waits until it has heard all it should.
void Soak::watchTranscript(const StbSimulator& box, const Scenario& scenario, RunRecord& record) {
    const int sent = bytesSentBy(record.reached, !scenario.box.wrongChecksum);
    BoundedWait heard(kHearingBound);
    QObject scope;
    QObject::connect(&box, &StbSimulator::received, &scope, [&] {
        if (box.transcript().size() >= sent) heard.finish();
    });
    if (box.transcript().size() < sent) heard.run();
    record.transcript = box.transcript();
    record.deviations = box.deviations();
}

void Soak::describeRun(const Scenario& scenario, const RunRecord& record) {
    const QString detail = record.result.detail.isEmpty()
                               ? QString()
                               : QStringLiteral(" (%1)").arg(record.result.detail);
    std::printf("run %d: %s\n  outcome %s%s; the host got to %s; the box heard %d bytes%s\n",
                scenario.run, qPrintable(describe(scenario)),
                qPrintable(outcomeName(record.result.outcome)), qPrintable(detail),
                qPrintable(stageName(record.reached)), int(record.transcript.size()),
                record.interrupted ? "; interrupted while waiting" : "");
}

void Soak::count(const Scenario& scenario, const RunRecord& record, bool failed) {
    ++outcomes_[record.openFailure.isEmpty() ? outcomeName(record.result.outcome)
                                             : QStringLiteral("port not opened")];
    for (const auto& feature : featuresOf(scenario)) ++features_[feature.first];
    if (record.interrupted)
        ++interruptions_[scenario.interrupt == Interrupt::UserCloses
                             ? QStringLiteral("user closed")
                             : QStringLiteral("box hung up")];
    if (failed) ++failedRuns_;
}

int wholeOption(const QCommandLineParser& parser, const char* name, int lowest) {
    bool ok = false;
    const int value = parser.value(QLatin1StringView(name)).toInt(&ok);
    if (!ok || value < lowest) {
        std::fprintf(stderr, "tessaly-soak: --%s takes a whole number from %d up\n", name, lowest);
        std::exit(64);
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Dumps from a randomized hostile simulated box and checks every run. A seed and a run "
        "number fix a run's box; --run repeats one run on its own. Exit status 1 when any run "
        "broke an invariant."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("runs"), QStringLiteral("Number of runs (default 10000)."),
         QStringLiteral("n"), QStringLiteral("10000")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the whole soak (default 1)."),
         QStringLiteral("s"), QStringLiteral("1")},
        {QStringLiteral("run"), QStringLiteral("Repeat only run <k> and describe it."),
         QStringLiteral("k")},
    });
    parser.process(app);
    const auto seed = std::uint32_t(wholeOption(parser, "seed", 0));
    const bool single = parser.isSet(QStringLiteral("run"));
    const int first = single ? wholeOption(parser, "run", 0) : 0;
    const int last = single ? first : wholeOption(parser, "runs", 1) - 1;

    Soak soak(single);
    QElapsedTimer clock;
    clock.start();
    for (int run = first; run <= last; ++run) {
        const Scenario scenario = drawScenario(seed, run);
        const QStringList violations = soak.runOne(scenario);
        for (const QString& violation : violations) {
            std::printf(
                "VIOLATION in run %d (seed %u): %s\n  box: %s\n  repeat: tessaly-soak "
                "--seed %u --run %d\n",
                run, seed, qPrintable(violation), qPrintable(describe(scenario)), seed, run);
        }
        if (!single && (run + 1) % 1000 == 0)
            std::fprintf(stderr, "tessaly-soak: %d runs, %s\n", run + 1,
                         qPrintable(clockText(clock.elapsed())));
        std::fflush(stdout);
    }
    std::printf("tessaly-soak: %d runs, seed %u, %.1f s, runs with a violation: %d\n",
                last - first + 1, seed, double(clock.elapsed()) / 1000, soak.runsWithViolations());
    soak.printCounts();
    return soak.runsWithViolations() == 0 ? 0 : 1;
}
