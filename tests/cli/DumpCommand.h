#pragma once

// Runs tessaly-dump as a user or a script would, while this thread's event loop keeps any
// simulated box in the test answering.
#include <Wait.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace tessaly::test {

struct RunResult {
    int exitCode = -1;
    QString out;
    QString err;
};

inline RunResult runProgram(const QString& program, const QStringList& arguments,
                            const QString& workingDirectory = {}) {
    QProcess process;
    if (!workingDirectory.isEmpty()) process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted());
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; },
                          std::chrono::seconds(30)));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// Beside the test program, also where the build's paths mean nothing (under wine).
inline QString dumpProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly-dump");
}

inline RunResult runDump(const QStringList& arguments, const QString& workingDirectory = {}) {
    return runProgram(dumpProgram(), arguments, workingDirectory);
}

}  // namespace tessaly::test
