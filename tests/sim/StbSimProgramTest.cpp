#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "TestHost.h"
#include "Wait.h"

using namespace tessaly::test;

namespace {

const QString kProgram = QStringLiteral(TESSALY_BIN_DIR "/tessaly-stb-sim");

TEST(StbSimProgram, PrintsItsDeviceServesRecordsAndQuitsOnTerm) {
    QTemporaryDir dir;
    const QString record = dir.filePath("host.bin");
    QProcess program;
    program.start(kProgram, {"--record", record});
    ASSERT_TRUE(program.waitForReadyRead(10'000)) << program.errorString().toStdString();
    const QString device = QString::fromLocal8Bit(program.readLine()).trimmed();
    ASSERT_TRUE(QFileInfo::exists(device)) << device.toStdString();

    QByteArray log;
    {
        TestHost host(device);
        ASSERT_TRUE(host.isOpen());
        EXPECT_EQ(runUpToReply(host).reply.size(), 1025);
        host.send(kSuccessAck);
        EXPECT_TRUE(waitUntil([&] {
            log += program.readAllStandardError();
            return log.contains("acknowledged: success");
        })) << log.constData();

        QFile file(record);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), host.sent());
    }

    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10'000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

TEST(StbSimProgram, RefusesAnImageOfTheWrongSize) {
    QTemporaryDir dir;
    QFile image(dir.filePath("short.bin"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(1023, '\x5A'));
    image.close();

    QProcess program;
    program.start(kProgram, {"--image", image.fileName()});
    ASSERT_TRUE(program.waitForFinished(10'000));
    EXPECT_EQ(program.exitCode(), 64);
    EXPECT_TRUE(program.readAllStandardError().contains("1024"));
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

}  // namespace
