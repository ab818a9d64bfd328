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

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

}  // namespace

Console::Console(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

void Console::setMode(bool json, bool quiet) {
    json_ = json;
    quiet_ = quiet;
    progress_ = !quiet && isTerminal(err_);
}

void Console::print(const QString& text) { write(out_, text); }

void Console::log(const QString& text) {
    if (!quiet_ && !text.isEmpty()) write(json_ ? err_ : out_, forTerminal(text));
}

void Console::record(const QJsonObject& object) {
    write(out_, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
}

void Console::error(const QString& sentence) {
    write(err_, QStringLiteral("tessaly-dump: %1\n").arg(sentence));
}

void Console::warning(const QString& sentence) {
    write(err_, QStringLiteral("tessaly-dump: warning: %1\n").arg(sentence));
}

void Console::progress(const QString& line) {
    if (!progress_ || (progressShown_ && line == lastProgress_)) return;
    lastProgress_ = line;
    std::fprintf(err_, "\r\033[K%s", line.toLocal8Bit().constData());
    std::fflush(err_);
    progressShown_ = true;
}

void Console::write(std::FILE* stream, const QString& text) {
    if (progressShown_) {
        std::fputs("\r\033[K", err_);
        progressShown_ = false;
    }
    // Failures (a closed pipe) are ignored on purpose: see the class comment.
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

}  // namespace tessaly::cli
