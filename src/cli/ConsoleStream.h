#pragma once

#include <QString>
#include <cstdio>
#include <optional>

namespace tessaly::cli {

struct WriteFailure {
    bool readerGone;  // a pipe whose reader has ended: the text is simply lost
    bool partly;      // some of the text went out before the failure
    QString reason;   // the system's words
};

// One of the program's standard streams, written as text is expected there: on a Windows console
// through its wide-character interface, so that any name shows as it is; elsewhere as bytes, UTF-8
// on Windows and the locale's encoding on other systems, with the platform's line ends. Writes go
// past stdio's buffer, so that a failure is known at the write that met it, not at some later
// flush or at exit.
class ConsoleStream {
public:
    explicit ConsoleStream(std::FILE* stream);

    // A terminal or console that someone watches.
    bool isTerminal() const;
    // Whether colour escapes show here: on a terminal, and on a Windows console once it is told
    // to read them, which this does.
    bool allowColor() const;
    // Writes all of `text`, or says why not.
    std::optional<WriteFailure> write(const QString& text) const;

private:
    int descriptor_;
};

}  // namespace tessaly::cli
