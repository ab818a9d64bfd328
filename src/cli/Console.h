#pragma once

#include <QString>
#include <cstdio>

class QJsonObject;

namespace tessaly::cli {

// Where tessaly-dump's texts go. Human text goes to `out`, or to `err` when `out` carries JSON;
// errors and warnings always go to `err`. A reader that went away only loses the text: it never
// changes how the run ends.
class Console {
public:
    Console(std::FILE* out, std::FILE* err);

    // Set once the options are known; the progress line is shown only when `err` is a terminal.
    void setMode(bool json, bool quiet);

    // Text as it stands on `out` whatever the mode: help, version, the list of ports.
    void print(const QString& text);
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

    std::FILE* out_;
    std::FILE* err_;
    bool json_ = false;
    bool quiet_ = false;
    bool progress_ = false;
    bool progressShown_ = false;
    QString lastProgress_;
};

}  // namespace tessaly::cli
