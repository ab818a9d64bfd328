#include "DumpLog.h"

#include <MSComm.h>

namespace tessaly {

QString dumpResultLog(const DumpRun::Result& result) {
    if (result.reply.size() != qsizetype(dump::kReplySize)) return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(result.reply.constData());
    QString log = QString::fromStdString(dump::hexListing({bytes, dump::kDataSize}));
    if (result.outcome == DumpRun::Outcome::ChecksumMismatch)
        log += QLatin1StringView(kChecksumErrorLog);
    return log;
}

void setUpLinkForBox(MSComm& link) {
    link.setSettings(QStringLiteral("115200,N,8,1"));
    link.setInputLen(0);
    link.setInBufferSize(int(dump::kReplySize));
}

}  // namespace tessaly
