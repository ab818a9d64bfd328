#pragma once

// Runs tessaly-dump in this process as its main does, or as a program of its own where a test
// needs a process (signals, pipes, limits); either way this thread's event loop keeps any
// simulated box in the test answering.
#include <Wait.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "cli/Console.h"
#include "cli/DumpProgram.h"

namespace tessaly::test {

struct RunResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// The longest limit a test gives the program is 10 s (its default wait, a FIFO's read); one that
// runs well beyond it hangs, and is killed so that the case fails at once.
inline RunResult runProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted());
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; },
                   std::chrono::seconds(20))) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << qPrintable(program) << ' ' << qPrintable(arguments.join(' '))
                      << " did not end within 20 s";
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Beside the test program, also where the build's paths mean nothing (under wine).
inline QString dumpProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly-dump");
}

inline RunResult runDumpProcess(const QStringList& arguments) {
    return runProgram(dumpProgram(), arguments);
}

// Everything written to `stream` (UTF-8), which is closed then; lines end in LF whatever the
// platform's line end, so that one expectation serves both.
inline QString takeText(std::FILE* stream) {
    std::rewind(stream);
    QByteArray bytes;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
        bytes.append(buffer, qsizetype(got));
    std::fclose(stream);
    return QString::fromUtf8(bytes.replace("\r\n", "\n"));
}

// `nonUtf8Argument` is what main makes of the raw arguments.
inline RunResult runDump(const QStringList& arguments, const QString& workingDirectory = {},
                         const QString& nonUtf8Argument = {}) {
    const QString previous = QDir::currentPath();
    if (!workingDirectory.isEmpty()) QDir::setCurrent(workingDirectory);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    cli::Console console(out, err);
    const int status = cli::runDumpProgram(QStringList{QStringLiteral("tessaly-dump")} + arguments,
                                           nonUtf8Argument, console);
    QDir::setCurrent(previous);
    return {status, takeText(out), takeText(err)};
}

}  // namespace tessaly::test
