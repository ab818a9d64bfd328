#pragma once

#include <QString>

class QCommandLineParser;

namespace tessaly::window {

// What the window's command line asks for.
struct WindowOptions {
    QString port;           // --port DEVICE; empty when not given
    bool simulate = false;  // --simulate
    QString targetFolder;   // --dir DIR, made absolute; empty when not given
};

// Declares the window's options, help and version included, on `parser`.
void addWindowOptions(QCommandLineParser& parser);
// Reads them once `parser` has parsed the arguments.
WindowOptions windowOptions(const QCommandLineParser& parser);

}  // namespace tessaly::window
