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

struct ImageCase {
    const char* image;  // relative: written with 1023 bytes
    const char* says;
};

class StbSimImageTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(StbSimImageTest, RefusesWhatIsNotAnImageWithoutWaiting) {
    QTemporaryDir dir;
    QString image = GetParam().image;
    if (QFileInfo(image).isRelative()) {
        QFile file(image = dir.filePath(image));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(1023, '\x5A')));
    }

    QProcess program;
    program.start(kProgram, {"--image", image});
    ASSERT_TRUE(program.waitForFinished(10'000));
    EXPECT_EQ(program.exitCode(), 64);
    EXPECT_TRUE(program.readAllStandardError().contains(GetParam().says));
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Images, StbSimImageTest,
                         ::testing::Values(ImageCase{"short.bin", "must hold exactly 1024 bytes"},
                                           ImageCase{"/dev/ptmx", "it is a device"},
                                           ImageCase{"/proc/self/mem", "Input/output error"}));

}  // namespace
