#include "sim/BoxBehaviour.h"

#include <QStringList>
#include <stdexcept>

namespace tessaly::sim {

namespace {

[[noreturn]] void reject(const QString& text) { throw std::invalid_argument(text.toStdString()); }

int numberIn(const QString& item, const QString& value, int lowest, int highest) {
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < lowest || number > highest)
        reject(QStringLiteral("\"%1\" takes a whole number from %2 to %3")
                   .arg(item.section(u'=', 0, 0))
                   .arg(lowest)
                   .arg(highest));
    return number;
}

}  // namespace

SimOptions boxBehaviourFrom(const QString& list) {
    SimOptions options;
    for (const QString& item : list.split(u',', Qt::SkipEmptyParts)) {
        const QString name = item.section(u'=', 0, 0).trimmed();
        const QString value = item.section(u'=', 1).trimmed();
        const bool hasValue = item.contains(u'=');
        if (name == u"wrong-checksum" && !hasValue)
            options.wrongChecksum = true;
        else if (name == u"split-tokens" && !hasValue)
            options.splitTokens = true;
        else if (name == u"silent-after" && hasValue)
            options.silentAfterMessage = numberIn(item, value, 1, 10);
        else if (name == u"disconnect-after-bytes" && hasValue)
            options.disconnectAfterReplyBytes = numberIn(item, value, 0, 1024);
        else if (name == u"noise" && hasValue)
            options.noiseBeforeTokens = numberIn(item, value, 0, 4096);
        else if (name == u"baud" && hasValue)
            options.baud = numberIn(item, value, 50, 4'000'000);
        else
            reject(QStringLiteral("unknown box behaviour \"%1\" (known: wrong-checksum, "
                                  "silent-after=N, disconnect-after-bytes=N, split-tokens, "
                                  "noise=N, baud=N)")
                       .arg(item.trimmed()));
    }
    return options;
}

}  // namespace tessaly::sim
