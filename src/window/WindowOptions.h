#pragma once

#include <QString>

class QCommandLineParser;

namespace tessaly::window {

// What the window's command line asks for.
struct WindowOptions {
    QString port;           // --port DEVICE; empty when not given
    bool simulate = false;  // --simulate
    QString targetFolder;   // --dir DIR, made absolute; empty when not given
    QString refusal;        // why the names given were not taken; empty when they were
};

// Declares the window's options, help and version included, on `parser`.
void addWindowOptions(QCommandLineParser& parser);
// Reads them once `parser` has parsed the arguments; `nonUtf8Argument` describes an argument
// that is not valid UTF-8 (empty when none is).
WindowOptions windowOptions(const QCommandLineParser& parser, const QString& nonUtf8Argument = {});

}  // namespace tessaly::window
