#include "cli/Console.h"

#include <QJsonDocument>
#include <QJsonObject>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tessaly::cli {

namespace {

// The log uses CR LF like the window; a terminal wants the platform's own line ends.
QString forTerminal(QString text) {
#ifndef Q_OS_WIN
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#endif
    return text;
}

}  // namespace

bool stderrIsTerminal() {
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr));
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

Console::Console(bool json, bool quiet, bool progress)
    : json_(json), quiet_(quiet), progress_(progress && !quiet) {}

void Console::log(const QString& text) {
    if (!quiet_ && !text.isEmpty()) write(json_ ? stderr : stdout, forTerminal(text));
}

void Console::record(const QJsonObject& object) {
    write(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
}

void Console::error(const QString& sentence) {
    write(stderr, QStringLiteral("tessaly-dump: %1\n").arg(sentence));
}

void Console::warning(const QString& sentence) {
    write(stderr, QStringLiteral("tessaly-dump: warning: %1\n").arg(sentence));
}

void Console::progress(const QString& line) {
    if (!progress_ || (progressShown_ && line == lastProgress_)) return;
    lastProgress_ = line;
    std::fprintf(stderr, "\r\033[K%s", line.toLocal8Bit().constData());
    std::fflush(stderr);
    progressShown_ = true;
}

void Console::write(std::FILE* stream, const QString& text) {
    if (progressShown_) {
        std::fputs("\r\033[K", stderr);
        progressShown_ = false;
    }
    // Failures (a closed pipe) are ignored on purpose: see the class comment.
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

}  // namespace tessaly::cli
