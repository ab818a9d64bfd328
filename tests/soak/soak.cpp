// tessaly-soak: dumps from randomized hostile boxes, one after another over one link and one dump
// run, as the window does them; with several ports, that many such runs at once on one event
// loop, each port with its own box and directory. After every run it checks what a technician
// relies on: success only for the box's exact data with a matching checksum, every earlier image
// still there (as EEPROM.bin or as exactly one kept copy) and nothing else added, what the run
// reports about the file true, no port's image holding another port's bytes, every run ending
// with the port free again, and the host's bytes exactly right.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>

#include "BoundedWait.h"
#include "dump/DumpLog.h"
#include "dump/DumpRun.h"
#include "dump/ImageFile.h"
#include "serial/CommError.h"
#include "serial/PortOwnership.h"
#include "serial/SerialLink.h"
#include "sim/SimulatedBox.h"

namespace {

using namespace std::chrono_literals;
using tessaly::bench::BoundedWait;
using tessaly::dump::DumpRun;
using tessaly::dump::Stage;
using tessaly::serial::CommError;
using tessaly::serial::SerialLink;
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

// A file already in the target directory before a run, by name.
using DirectoryContent = std::map<QString, QByteArray>;

// Modification times of earlier images lie within a few seconds of this, so that kept copies
// from earlier runs often take the name a new kept copy would get.
const QDateTime kEarlierImageTime(QDate(2026, 1, 2), QTime(3, 4, 5));

// NAME-YYYYMMDD-HHMMSS(-N).bin, the name a kept copy of an image modified at `modified` gets.
QString keptCopyName(const QDateTime& modified, int attempt) {
    const QString counter = attempt > 1 ? QStringLiteral("-%1").arg(attempt) : QString();
    return QStringLiteral("EEPROM-") + modified.toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           counter + QStringLiteral(".bin");
}

// Everything random about one run, drawn from the soak's seed and the run's number alone.
struct Scenario {
    int run = 0;
    SimOptions box;
    std::chrono::milliseconds waitLimit{};
    Interrupt interrupt = Interrupt::None;
    // The interruption comes at the link's n-th arrival of bytes; 0: right after the start.
    int interruptAfterArrivals = 0;
    std::optional<QByteArray> earlierImage;
    QDateTime earlierModified;
    DirectoryContent keptBefore;  // copies kept by earlier runs
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

QByteArray imageOf(const SimOptions& box) {
    return QByteArray(reinterpret_cast<const char*>(box.image.data()), qsizetype(box.image.size()));
}

// An earlier image and what earlier runs left beside it.
void drawDirectory(Dice& dice, Scenario& scenario) {
    if (dice.chance(0.25)) return;
    if (dice.chance(0.15))
        scenario.earlierImage = imageOf(scenario.box);  // the same box dumped again
    else
        scenario.earlierImage = dice.bytes(dice.chance(0.7) ? 1024 : dice.between(0, 2048));
    scenario.earlierModified = kEarlierImageTime.addSecs(dice.between(0, 2));
    for (int kept = dice.between(0, 3); kept > 0; --kept) {
        const QDateTime modified = kEarlierImageTime.addSecs(dice.between(0, 2));
        scenario.keptBefore[keptCopyName(modified, dice.between(1, 3))] = dice.bytes(1024);
    }
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
    if (!scenario.unwritableTarget) drawDirectory(dice, scenario);
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
    add(scenario.earlierImage == imageOf(box), "earlier image the same");
    add(!scenario.keptBefore.empty(), "kept copies in place",
        QString::number(scenario.keptBefore.size()));
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
    DirectoryContent filesBefore;
    DirectoryContent filesAfter;
    QString reopenFailure;
};

QString sizeText(const std::optional<QByteArray>& file) {
    return file ? QStringLiteral("%1 bytes").arg(file->size()) : QStringLiteral("no file");
}

std::optional<QByteArray> imageIn(const DirectoryContent& files) {
    const auto image = files.find(QLatin1StringView(tessaly::dump::kImageFileName));
    return image == files.end() ? std::nullopt : std::optional(image->second);
}

// The name the differing earlier image must have been kept under: the first one free.
QString expectedKeptName(const Scenario& scenario, const DirectoryContent& before) {
    for (int attempt = 1;; ++attempt) {
        const QString name = keptCopyName(scenario.earlierModified, attempt);
        if (!before.contains(name)) return name;
    }
}

// The directory after a run that wrote `image`: the earlier image kept when it differed, every
// other file as it was, nothing else.
DirectoryContent expectedAfterWriting(const Scenario& scenario, const DirectoryContent& before,
                                      const QByteArray& image) {
    DirectoryContent expected = before;
    const std::optional<QByteArray> earlier = imageIn(before);
    if (earlier && *earlier != image) expected[expectedKeptName(scenario, before)] = *earlier;
    expected[QLatin1StringView(tessaly::dump::kImageFileName)] = image;
    return expected;
}

QString namesOf(const DirectoryContent& files) {
    QStringList names;
    for (const auto& [name, content] : files) names << name;
    return names.join(QStringLiteral(", "));
}

// What the run reported about the file must be what happened to it.
void checkReportedStore(const Scenario& scenario, const RunRecord& record,
                        const std::function<void(const QString&)>& violated) {
    const tessaly::dump::StoredImage& stored = record.result.stored;
    const std::optional<QByteArray> earlier = imageIn(record.filesBefore);
    const QByteArray image = imageOf(scenario.box);
    const bool differs = earlier && *earlier != image;
    if (stored.hadEarlier != earlier.has_value() || stored.sameAsEarlier != (earlier && !differs))
        violated(QStringLiteral("the run reported the earlier image wrongly"));
    if (QFileInfo(stored.keptAs).fileName() !=
        (differs ? expectedKeptName(scenario, record.filesBefore) : QString()))
        violated(
            QStringLiteral("the run reported the earlier image kept as \"%1\"").arg(stored.keptAs));
    if (stored.sha256 != QCryptographicHash::hash(image, QCryptographicHash::Sha256))
        violated(QStringLiteral("the reported SHA-256 is not that of the image"));
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

    const QByteArray received = record.result.reply ? record.result.reply->data() : QByteArray();
    const bool wrote = outcome == Outcome::Saved || outcome == Outcome::ChecksumMismatch;
    if (outcome == Outcome::Saved && box.wrongChecksum)
        violated(QStringLiteral("success for a reply with a wrong checksum"));
    if (wrote && imageIn(record.filesAfter) != imageOf(box))
        violated(QStringLiteral("%1, but the file (%2) is not the box's 1024 bytes")
                     .arg(outcomeName(outcome), sizeText(imageIn(record.filesAfter))));
    if (wrote) checkReportedStore(scenario, record, violated);
    // Every earlier image survives, as EEPROM.bin or as exactly one kept copy, and nothing else
    // appears: no temporary files, no second copies.
    const DirectoryContent expectedFiles =
        wrote ? expectedAfterWriting(scenario, record.filesBefore, imageOf(box))
              : record.filesBefore;
    if (record.filesAfter != expectedFiles)
        violated(
            QStringLiteral("after the run (%1) the target directory holds %2, expected %3")
                .arg(outcomeName(outcome), namesOf(record.filesAfter), namesOf(expectedFiles)) +
            (record.filesAfter.size() == expectedFiles.size()
                 ? QStringLiteral(" (a file's content differs)")
                 : QString()));
    if (record.result.reply && received != imageOf(box))
        violated(QStringLiteral("the data received are not the box's data"));

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

// One port with its own link, dump run, box and target directory; runs one scenario at a time.
// Several ports run at once on the one event loop.
class Port {
public:
    Port() : dump_(link_) {
        if (!directory_.isValid()) throw std::runtime_error("no temporary directory");
    }

    // Prepares the directory, opens the port and starts the dump; `ended` follows once, also
    // when the port cannot be opened.
    void begin(const Scenario& scenario, std::function<void()> ended);
    // After the run ended or was given up: closes the port and records what the box heard,
    // whether the port opens again and what the directory holds.
    RunRecord conclude();
    // Boxes replaced because another program held the lock of their name.
    int namesLockedElsewhere() const { return namesLockedElsewhere_; }

private:
    QString openOnNewBox();
    void interrupt();
    void watchTranscript();
    QString imagePath() const;
    void prepareDirectory();
    DirectoryContent directoryContent() const;

    QTemporaryDir directory_;
    SerialLink link_;
    DumpRun dump_;
    Scenario scenario_;
    RunRecord record_;
    std::unique_ptr<StbSimulator> box_;
    std::unique_ptr<QObject> scope_;  // ends every connection made for the current run
    int arrivals_ = 0;
    int namesLockedElsewhere_ = 0;
};

QString Port::imagePath() const {
    const QDir target(directory_.path());
    return scenario_.unwritableTarget
               ? target.filePath(QStringLiteral("missing/") + tessaly::dump::kImageFileName)
               : target.filePath(tessaly::dump::kImageFileName);
}

void Port::prepareDirectory() {
    QDir target(directory_.path());
    for (const QString& entry :
         target.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (!QFile::remove(target.filePath(entry)))
            QDir(target.filePath(entry)).removeRecursively();
    }
    DirectoryContent files = scenario_.keptBefore;
    if (scenario_.earlierImage) files[tessaly::dump::kImageFileName] = *scenario_.earlierImage;
    for (const auto& [name, content] : files) {
        QFile file(target.filePath(name));
        if (file.open(QIODevice::WriteOnly)) file.write(content);
    }
    if (!scenario_.earlierImage) return;
    QFile earlier(target.filePath(tessaly::dump::kImageFileName));
    if (earlier.open(QIODevice::ReadWrite))
        earlier.setFileTime(scenario_.earlierModified, QFileDevice::FileModificationTime);
}

DirectoryContent Port::directoryContent() const {
    const QDir target(directory_.path());
    DirectoryContent files;
    for (const QString& entry :
         target.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        QFile file(target.filePath(entry));
        files[entry] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    return files;
}

void Port::begin(const Scenario& scenario, std::function<void()> ended) {
    scenario_ = scenario;
    record_ = {};
    arrivals_ = 0;
    scope_ = std::make_unique<QObject>();
    prepareDirectory();
    record_.filesBefore = directoryContent();

    if (const QString failure = openOnNewBox(); !failure.isEmpty()) {
        record_.openFailure = failure;
        QTimer::singleShot(0, scope_.get(), ended);
        return;
    }

    QObject::connect(&dump_, &DumpRun::finished, scope_.get(),
                     [this, ended](const DumpRun::Result& result) {
                         record_.result = result;
                         record_.ended = true;
                         // The acknowledgement follows the stored reply after the last read.
                         if (dump_.protocol().stage() == Stage::Acknowledged)
                             record_.reached = Stage::Acknowledged;
                         // Closed at once, as the window and the command do: what is still
                         // queued must go out.
                         link_.close();
                         ended();
                     });
    QObject::connect(&link_, &SerialLink::dataReceived, scope_.get(), [this] {
        // Runs after the dump run's own handler, so the stage is what that read led to.
        if (dump_.protocol().stage() != Stage::Cancelled)
            record_.reached = dump_.protocol().stage();
        if (scenario_.interrupt != Interrupt::None &&
            ++arrivals_ == scenario_.interruptAfterArrivals)
            QTimer::singleShot(0, scope_.get(), [this] { interrupt(); });
    });

    dump_.setWaitLimit(scenario.waitLimit);
    dump_.start(imagePath());
    if (scenario.interrupt != Interrupt::None && scenario.interruptAfterArrivals == 0)
        QTimer::singleShot(0, scope_.get(), [this] { interrupt(); });
}

// Whoever holds the lock file of `device` according to its first word; nothing when unknown.
std::optional<qint64> lockHolder(const QString& device) {
    QFile lock(tessaly::serial::port_ownership::lockFileOf(device));
    bool isNumber = false;
    const qint64 pid = lock.open(QIODevice::ReadOnly)
                           ? lock.readLine().simplified().split(' ').value(0).toLongLong(&isNumber)
                           : 0;
    return isNumber ? std::optional(pid) : std::nullopt;
}

QString Port::openOnNewBox() {
    // Pseudo-terminal names are reused at once, and other programs on the machine that open
    // pseudo-terminals may hold the lock of the name this run's box has just got: that is not
    // the run's doing, so the run takes a box under another name.
    std::unique_ptr<StbSimulator> refused;
    for (int attempt = 1;; ++attempt) {
        box_ = std::make_unique<StbSimulator>(scenario_.box);
        try {
            link_.open(box_->devicePath());
            break;
        } catch (const CommError& error) {
            const std::optional<qint64> holder = lockHolder(box_->devicePath());
            if (attempt == 3 || !holder || *holder == QCoreApplication::applicationPid())
                return error.reason();
            ++namesLockedElsewhere_;
            refused = std::move(box_);  // kept until the next box has a name of its own
        }
    }
    QObject::connect(box_.get(), &StbSimulator::hungUp, scope_.get(),
                     [this] { record_.boxHungUp = true; });
    return {};
}

void Port::interrupt() {
    // Once the reply is complete the run only stores and acknowledges it: too late to cancel.
    if (!dump_.running() || dump_.protocol().stage() == Stage::ReplyReceived) return;
    record_.interrupted = true;
    if (scenario_.interrupt == Interrupt::UserCloses) {
        link_.close();
        return;
    }
    record_.transcript = box_->transcript();
    record_.deviations = box_->deviations();
    record_.boxDestroyed = true;
    box_.reset();
}

RunRecord Port::conclude() {
    if (record_.openFailure.isEmpty()) {
        const bool ended = record_.ended;
        link_.close();
        record_.ended = ended;  // closing a hung run ends it, which must not hide the hang
        if (box_) {
            watchTranscript();
            if (!record_.boxHungUp) {
                try {
                    link_.open(box_->devicePath());
                    link_.close();
                } catch (const CommError& error) {
                    record_.reopenFailure = error.reason();
                }
            }
        }
        record_.filesAfter = directoryContent();
    }
    scope_.reset();
    box_.reset();
    return record_;
}

// The box reads what the host sent in its own time; waits until it has heard all it should.
void Port::watchTranscript() {
    const int sent = bytesSentBy(record_.reached, !scenario_.box.wrongChecksum);
    BoundedWait heard(kHearingBound);
    QObject scope;
    QObject::connect(box_.get(), &StbSimulator::received, &scope, [&] {
        if (box_->transcript().size() >= sent) heard.finish();
    });
    if (box_->transcript().size() < sent) heard.run();
    record_.transcript = box_->transcript();
    record_.deviations = box_->deviations();
}

class Soak {
public:
    Soak(int ports, bool describeRuns) : describeRuns_(describeRuns), ports_(ports) {}

    // Runs the scenarios at once, one a port, and checks each; returns the violations by run.
    std::map<int, QStringList> runRound(const std::vector<Scenario>& scenarios) {
        int running = int(scenarios.size());
        BoundedWait allEnded(kRunBound);
        for (size_t port = 0; port < scenarios.size(); ++port)
            ports_[port].begin(scenarios[port], [&] {
                if (--running == 0) allEnded.finish();
            });
        allEnded.run();
        std::vector<RunRecord> records;
        for (size_t port = 0; port < scenarios.size(); ++port)
            records.push_back(ports_[port].conclude());

        std::map<int, QStringList> violations;
        for (size_t port = 0; port < scenarios.size(); ++port) {
            const Scenario& scenario = scenarios[port];
            const RunRecord& record = records[port];
            if (describeRuns_) describeRun(scenario, record);
            QStringList found = violationsOf(scenario, record);
            found += crossPortViolations(scenarios, port, record);
            count(scenario, record, !found.isEmpty());
            if (!found.isEmpty()) violations[scenario.run] = found;
        }
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
        int replaced = 0;
        for (const Port& port : ports_) replaced += port.namesLockedElsewhere();
        std::printf("boxes replaced, their name locked by another program: %d\n", replaced);
    }
    int runsWithViolations() const { return failedRuns_; }

private:
    // No port's image holds the bytes another port's box sent in the same round.
    static QStringList crossPortViolations(const std::vector<Scenario>& scenarios, size_t port,
                                           const RunRecord& record) {
        const std::optional<QByteArray> image = imageIn(record.filesAfter);
        const QByteArray own = imageOf(scenarios[port].box);
        QStringList violations;
        for (size_t other = 0; other < scenarios.size(); ++other) {
            const QByteArray theirs = imageOf(scenarios[other].box);
            if (other != port && theirs != own && image == theirs)
                violations << QStringLiteral("the image holds the bytes of run %1 on another port")
                                  .arg(scenarios[other].run);
        }
        return violations;
    }
    void count(const Scenario& scenario, const RunRecord& record, bool failed);
    static void describeRun(const Scenario& scenario, const RunRecord& record);

    bool describeRuns_;
    std::vector<Port> ports_;
    std::map<QString, int> outcomes_;
    std::map<QString, int> features_;
    std::map<QString, int> interruptions_;
    int failedRuns_ = 0;
};

void Soak::describeRun(const Scenario& scenario, const RunRecord& record) {
    const QString detail = record.result.detail.isEmpty()
                               ? QString()
                               : QStringLiteral(" (%1)").arg(record.result.detail);
    std::printf("run %d: %s\n  outcome %s%s; the host got to %s; the box heard %d bytes%s\n",
                scenario.run, qPrintable(describe(scenario)),
                qPrintable(outcomeName(record.result.outcome)), qPrintable(detail),
                qPrintable(stageName(record.reached)), int(record.transcript.size()),
                record.interrupted ? "; interrupted while waiting" : "");
    std::printf("  before: %s\n  after: %s\n", qPrintable(namesOf(record.filesBefore)),
                qPrintable(namesOf(record.filesAfter)));
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
        "Dumps from randomized hostile simulated boxes and checks every run. A seed and a run "
        "number fix a run's box and target directory; --run repeats one run on its own. With "
        "--ports, that many ports run at once, each with its own box and directory. It stops "
        "after the first round in which a run broke an invariant, with exit status 1."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("runs"), QStringLiteral("Number of runs (default 10000)."),
         QStringLiteral("n"), QStringLiteral("10000")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the whole soak (default 1)."),
         QStringLiteral("s"), QStringLiteral("1")},
        {QStringLiteral("ports"), QStringLiteral("Ports running at once (default 1)."),
         QStringLiteral("p"), QStringLiteral("1")},
        {QStringLiteral("run"),
         QStringLiteral("Repeat only run <k> and describe it (on one port, with the wait limits "
                        "of --ports)."),
         QStringLiteral("k")},
    });
    parser.process(app);
    const auto seed = std::uint32_t(wholeOption(parser, "seed", 0));
    const bool single = parser.isSet(QStringLiteral("run"));
    const int first = single ? wholeOption(parser, "run", 0) : 0;
    const int last = single ? first : wholeOption(parser, "runs", 1) - 1;
    const int ports = wholeOption(parser, "ports", 1);
    // All ports and their boxes share one thread: a wait limit that suits one box alone would
    // end busy rounds as timeouts.
    const int waitScale = ports > 1 ? 4 : 1;
    const auto scenarioOf = [&](int run) {
        Scenario scenario = drawScenario(seed, run);
        scenario.waitLimit *= waitScale;
        return scenario;
    };
    const int portsAtOnce = single ? 1 : ports;

    Soak soak(portsAtOnce, single);
    QElapsedTimer clock;
    clock.start();
    // Stops after the first round with a violation: one is enough to fail, and a run that hangs
    // would make every later one wait for its bound.
    int done = first;
    for (int run = first; run <= last && soak.runsWithViolations() == 0; run += portsAtOnce) {
        std::vector<Scenario> round;
        for (int next = run; next <= std::min(last, run + portsAtOnce - 1); ++next)
            round.push_back(scenarioOf(next));
        for (const auto& [failedRun, violations] : soak.runRound(round)) {
            for (const QString& violation : violations)
                std::printf(
                    "VIOLATION in run %d (seed %u): %s\n  box: %s\n  repeat: tessaly-soak "
                    "--seed %u --ports %d --run %d\n",
                    failedRun, seed, qPrintable(violation),
                    qPrintable(describe(scenarioOf(failedRun))), seed, ports, failedRun);
        }
        done = std::min(last, run + portsAtOnce - 1) + 1;
        if (!single && done / 1000 != (done - int(round.size())) / 1000)
            std::fprintf(stderr, "tessaly-soak: %d runs, %s\n", done,
                         qPrintable(clockText(clock.elapsed())));
        std::fflush(stdout);
    }
    std::printf(
        "tessaly-soak: %d runs, %d port%s at once, seed %u, %.1f s, runs with a "
        "violation: %d%s\n",
        done - first, portsAtOnce, portsAtOnce == 1 ? "" : "s", seed,
        double(clock.elapsed()) / 1000, soak.runsWithViolations(),
        done <= last ? ", stopped there" : "");
    soak.printCounts();
    return soak.runsWithViolations() == 0 ? 0 : 1;
}
