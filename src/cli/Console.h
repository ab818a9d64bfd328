#pragma once

#include <QString>
#include <cstdio>

class QJsonObject;

namespace tessaly::cli {

// Where tessaly-dump's texts go. Human text goes to stdout, or to stderr when stdout carries
// JSON; errors and warnings always go to stderr. A reader that went away only loses the text:
// it never changes how the run ends.
class Console {
public:
    Console(bool json, bool quiet, bool progress);

    // Text for people (the log, result lines, the summary); CR LF as in the window.
    void log(const QString& text);
    // One JSON object on a line of its own.
    void record(const QJsonObject& object);
    void error(const QString& sentence);
    void warning(const QString& sentence);
    // Replaces the progress line on a terminal; nothing elsewhere.
    void progress(const QString& line);

private:
    void write(std::FILE* stream, const QString& text);

    bool json_;
    bool quiet_;
    bool progress_;
    bool progressShown_ = false;
    QString lastProgress_;
};

// Whether stderr is a terminal someone watches.
bool stderrIsTerminal();

}  // namespace tessaly::cli
