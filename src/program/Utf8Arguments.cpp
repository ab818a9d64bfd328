#include "program/Utf8Arguments.h"

#include <QByteArray>

namespace tessaly::program {

QString describeNonUtf8Argument([[maybe_unused]] int argc,
                                [[maybe_unused]] const char* const* argv) {
    // Windows gives Qt the arguments as UTF-16; argv there is in the ANSI code page.
#ifndef Q_OS_WIN
    for (int i = 1; i < argc; ++i) {
        const QByteArray given(argv[i]);
        const QString text = QString::fromUtf8(given);
        if (text.toUtf8() == given) continue;
        QString where = QStringLiteral("as argument %1").arg(i);
        if (text.startsWith('-'))
            where = QStringLiteral("with ") + text.section('=', 0, 0);
        else if (i > 1 && argv[i - 1][0] == '-')
            where = QStringLiteral("with ") + QString::fromUtf8(argv[i - 1]);
        return QStringLiteral(
                   "The name given %1 (\"%2\") is not valid UTF-8, which Tessaly cannot pass on "
                   "intact: rename it, or use a link with a plain name")
            .arg(where, text);
    }
#endif
    return {};
}

}  // namespace tessaly::program
