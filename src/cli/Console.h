#pragma once

#include <QString>
#include <cstdio>

#include "cli/ConsoleStream.h"

class QJsonObject;
namespace tessaly::dump {
struct MarkedLog;
}

namespace tessaly::cli {

// When the log's marked stretches are coloured: auto on a terminal unless NO_COLOR is set.
enum class ColorChoice { Auto, Always, Never };

// Where tessaly-dump's texts go. Human text goes to `out`, or to `err` when `out` carries JSON;
// errors and warnings always go to `err`. A reader that went away only loses the text: it never
// changes how the run ends. Any other failure to write `out` means a script is missing what it
// asked for, which `finish` says and ends with.
class Console {
public:
    Console(std::FILE* out, std::FILE* err);

    // Set once the options are known; the progress line is shown only when `err` is a terminal.
    void setMode(bool json, bool quiet, ColorChoice color);

    // Text as it stands on `out` whatever the mode: help, version, the list of ports.
    void print(const QString& text);
    // Text for people (the log, result lines, the summary); CR LF as in the window.
    void log(const QString& text);
    // `log`'s text as log() shows it: its marked stretches in colour where colour is on.
    QString painted(const dump::MarkedLog& log) const;
    // One JSON object on a line of its own, in ASCII: names outside it as \u escapes, so that
    // every reader gets the same values whatever the console's code page.
    void record(const QJsonObject& object);
    void error(const QString& sentence);
    void warning(const QString& sentence);
    // Replaces the progress line on a terminal; nothing elsewhere.
    void progress(const QString& line);

    // The status to end with: `runStatus`, unless what was meant for `out` could not be written;
    // then that is said on `err`, and the status is kOutputLost unless the run was stopped.
    int finish(int runStatus);

private:
    // What went to `out`, counted so that the loss can be told.
    struct Tally {
        int written = 0;
        int lost = 0;
        bool partly = false;  // some of a lost one went out
    };

    void write(const ConsoleStream& stream, const QString& text, Tally* tally = nullptr);
    QString whatIsMissing() const;

    ConsoleStream out_;
    ConsoleStream err_;
    bool json_ = false;
    bool quiet_ = false;
    bool color_ = false;
    bool progress_ = false;
    bool progressShown_ = false;
    QString lastProgress_;
    QString outFailure_;  // the system's words for the first failed write to `out`
    Tally records_;
    Tally texts_;
};

}  // namespace tessaly::cli
