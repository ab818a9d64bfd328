#include "sim/BoxBehaviour.h"

#include <QStringList>
#include <algorithm>
#include <stdexcept>

#include "program/BoundedNumber.h"

namespace tessaly::sim {

namespace {

constexpr BoxMisbehaviour kMisbehaviours[] = {
    {"wrong-checksum", nullptr, 0, 0, "Send a wrong checksum byte.",
     [](SimOptions& options, int) { options.wrongChecksum = true; }},
    {"silent-after", "n", 1, 10, "Stop answering after host message <n> (1 to 10).",
     [](SimOptions& options, int message) { options.silentAfterMessage = message; }},
    {"reads-then-silent", "n", 0, 1000, "Answer <n> complete reads (0 to 1000), then stay silent.",
     [](SimOptions& options, int reads) { options.readsThenSilent = reads; }},
    {"disconnect-after-bytes", "n", 0, 1024, "Hang up after <n> bytes of the reply.",
     [](SimOptions& options, int bytes) { options.disconnectAfterReplyBytes = bytes; }},
    {"split-tokens", nullptr, 0, 0, "Send every token byte on its own.",
     [](SimOptions& options, int) { options.splitTokens = true; }},
    {"noise", "n", 0, 4096, "Send <n> bytes of line noise before each token.",
     [](SimOptions& options, int bytes) { options.noiseBeforeTokens = bytes; }},
    {"baud", "rate", 50, 4'000'000, "Pace both directions at <rate> baud (8N1).",
     [](SimOptions& options, int rate) { options.baud = rate; }},
    {"loopback", nullptr, 0, 0, "Echo every byte back, as a jumper from TX to RX does.",
     [](SimOptions& options, int) { options.loopback = Loopback::Echo; }},
    {"garbled-loopback", nullptr, 0, 0,
     "Echo every byte changed, as a wrong baud rate does (a speed fault).",
     [](SimOptions& options, int) { options.loopback = Loopback::Garbled; }},
};

[[noreturn]] void reject(const QString& text) { throw std::invalid_argument(text.toStdString()); }

}  // namespace

std::array<std::uint8_t, 1024> SimOptions::recognisableImage() {
    static constexpr char kMarker[] = "SIMULATED STB EEPROM";
    std::array<std::uint8_t, 1024> image{};
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i) ^ 0x5A;
    std::copy(kMarker, kMarker + sizeof kMarker - 1, image.begin());
    return image;
}

void BoxMisbehaviour::applyTo(SimOptions& options, const QString& value,
                              const QString& subject) const {
    apply(options, valueName ? wholeNumber(value, lowest, highest, subject) : 0);
}

std::span<const BoxMisbehaviour> boxMisbehaviours() { return kMisbehaviours; }

int wholeNumber(const QString& value, int lowest, int highest, const QString& subject) {
    const std::optional<qint64> number = program::boundedNumber(value, lowest, highest);
    if (!number) reject(program::wholeNumberRange(subject, lowest, highest));
    return int(*number);
}

QString boxBehaviourItems() {
    QStringList items;
    for (const BoxMisbehaviour& misbehaviour : kMisbehaviours)
        items << QString::fromLatin1(misbehaviour.name) + (misbehaviour.valueName ? "=N" : "");
    return items.join(QStringLiteral(", "));
}

SimOptions boxBehaviourFrom(const QString& list) {
    SimOptions options;
    for (const QString& item : list.split(u',', Qt::SkipEmptyParts)) {
        const QString name = item.section(u'=', 0, 0).trimmed();
        const auto known = std::ranges::find_if(kMisbehaviours, [&](const BoxMisbehaviour& one) {
            return name == QLatin1StringView(one.name);
        });
        if (known == std::end(kMisbehaviours))
            reject(QStringLiteral("unknown box behaviour \"%1\" (known: %2)")
                       .arg(item.trimmed(), boxBehaviourItems()));
        const QString subject = u'"' + name + u'"';
        if (known->valueName && !item.contains(u'='))
            reject(QStringLiteral("%1 needs a number: %2=N (%3 to %4)")
                       .arg(subject, name)
                       .arg(known->lowest)
                       .arg(known->highest));
        if (!known->valueName && item.contains(u'='))
            reject(subject + QStringLiteral(" takes no number"));
        known->applyTo(options, item.section(u'=', 1).trimmed(), subject);
    }
    return options;
}

}  // namespace tessaly::sim
