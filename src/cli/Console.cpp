#include "cli/Console.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "cli/ExitStatus.h"
#include "dump/DumpLog.h"

namespace tessaly::cli {

namespace {

// JSON's syntax is ASCII: anything beyond it stands in a string, where an escape means the same.
// UTF-16 units give the surrogate pairs JSON wants beyond the first plane.
QString asciiJson(const QJsonObject& object) {
    const QString json = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QString ascii;
    ascii.reserve(json.size());
    for (const QChar unit : json) {
        if (unit.unicode() < 0x80)
            ascii += unit;
        else
            ascii += QStringLiteral("\\u%1").arg(unit.unicode(), 4, 16, QLatin1Char('0'));
    }
    return ascii;
}

// Auto colours a terminal only, and never against a NO_COLOR with a value; a Windows console is
// told to read the escapes whenever they may come.
bool wantsColor(ColorChoice choice, const ConsoleStream& stream) {
    switch (choice) {
        case ColorChoice::Never:
            return false;
        case ColorChoice::Always:
            stream.allowColor();
            return true;
        case ColorChoice::Auto:
            return qEnvironmentVariableIsEmpty("NO_COLOR") && stream.allowColor();
    }
    return false;
}

// The damage in bold red and a changed byte black on yellow, as the window marks them; each
// stretch ends with a reset, so that nothing after it is coloured.
QString inColor(const dump::MarkedLog& log) {
    QString text;
    qsizetype done = 0;
    for (const dump::LogStretch& stretch : log.stretches) {
        text += QStringView(log.text).sliced(done, stretch.from - done);
        text += stretch.mark == dump::LogMark::Damage ? u"\033[1;31m" : u"\033[30;43m";
        text += QStringView(log.text).sliced(stretch.from, stretch.length);
        text += u"\033[0m";
        done = stretch.from + stretch.length;
    }
    return text += QStringView(log.text).sliced(done);
}

}  // namespace

Console::Console(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

void Console::setMode(bool json, bool quiet, ColorChoice color) {
    json_ = json;
    quiet_ = quiet;
    progress_ = !quiet && err_.isTerminal();
    color_ = wantsColor(color, json ? err_ : out_);
}

void Console::print(const QString& text) { write(out_, text, &texts_); }

void Console::log(const QString& text) {
    if (quiet_ || text.isEmpty()) return;
    if (json_)
        write(err_, text);
    else
        write(out_, text, &texts_);
}

QString Console::painted(const dump::MarkedLog& log) const {
    return color_ ? inColor(log) : log.text;
}

void Console::record(const QJsonObject& object) {
    write(out_, asciiJson(object) + '\n', &records_);
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
    err_.write(QStringLiteral("\r\033[K") + line);
    progressShown_ = true;
}

int Console::finish(int runStatus) {
    if (outFailure_.isEmpty()) return runStatus;
    // A stopped run says so by its status; what it could not print matters less then.
    const bool keepStatus = wasStopped(runStatus);
    error(QStringLiteral("standard output cannot be written (%1): %2%3.")
              .arg(outFailure_, whatIsMissing(),
                   keepStatus ? QString()
                              : QStringLiteral(" (exit status %1 instead of %2)")
                                    .arg(int(kOutputLost))
                                    .arg(runStatus)));
    return keepStatus ? runStatus : kOutputLost;
}

QString Console::whatIsMissing() const {
    if (records_.lost == 1 && records_.written == 0)
        return QStringLiteral("the JSON record is missing");
    if (records_.lost > 0)
        return QStringLiteral("%1 of %2 JSON records are missing")
            .arg(records_.lost)
            .arg(records_.lost + records_.written);
    return texts_.written == 0 && !texts_.partly
               ? QStringLiteral("the text meant for it is missing")
               : QStringLiteral("the text meant for it is incomplete");
}

void Console::write(const ConsoleStream& stream, const QString& text, Tally* tally) {
    if (progressShown_) {
        err_.write(QStringLiteral("\r\033[K"));
        progressShown_ = false;
    }
    // Failures on `err` have nowhere to be told; a reader that went away only loses the text.
    const std::optional<WriteFailure> failure = stream.write(text);
    if (!tally) return;
    if (!failure || failure->readerGone) {
        ++tally->written;
        return;
    }
    ++tally->lost;
    tally->partly = tally->partly || failure->partly;
    if (outFailure_.isEmpty()) outFailure_ = failure->reason;
}

}  // namespace tessaly::cli
