// One device, one owner: aliases of a device, lock files of other serial programs and lock
// failures that are not a held port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <optional>
#include <vector>

#include "Sanitizers.h"
#include "serial/PortOwnership.h"
#include "serial/SerialLink.h"
#include "sim/PseudoTerminal.h"

namespace tessaly {
namespace {

// The failure of opening `device`, or nothing when it opened.
std::optional<serial::CommError> openFailure(serial::SerialLink& link, const QString& device) {
    try {
        link.open(device);
        return std::nullopt;
    } catch (const serial::CommError& error) {
        return error;
    }
}

TEST(PortOwnership, EveryNameOfAnOpenDeviceIsInUse) {
    sim::PseudoTerminal pty;
    QTemporaryDir dir;
    const QString alias = dir.filePath(QStringLiteral("by-id-adapter"));
    ASSERT_TRUE(QFile::link(pty.devicePath(), alias));
    const QString linkToAlias = dir.filePath(QStringLiteral("second-alias"));
    ASSERT_TRUE(QFile::link(alias, linkToAlias));
    struct stat device {};
    ASSERT_EQ(::stat(pty.devicePath().toLocal8Bit().constData(), &device), 0);
    const QString numberLock = QFileInfo(serial::port_ownership::lockFileOf(pty.devicePath()))
                                   .dir()
                                   .filePath(QStringLiteral("tessaly-c%1-%2.lock")
                                                 .arg(major(device.st_rdev))
                                                 .arg(minor(device.st_rdev)));

    for (const auto& [first, second] :
         {std::pair{pty.devicePath(), alias}, std::pair{alias, pty.devicePath()},
          std::pair{alias, linkToAlias}}) {
        SCOPED_TRACE((first + QStringLiteral(" then ") + second).toStdString());
        serial::SerialLink holder;
        ASSERT_FALSE(openFailure(holder, first));
        serial::SerialLink other;
        const std::optional<serial::CommError> failure = openFailure(other, second);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->number(), serial::CommError::PortInUse);
        EXPECT_TRUE(failure->reason().endsWith(QStringLiteral("under the name ") + first))
            << failure->reason().toStdString();
        EXPECT_EQ(failure->device(), second);
        EXPECT_TRUE(QFile::exists(numberLock)) << numberLock.toStdString();
    }
    EXPECT_FALSE(QFile::exists(numberLock)) << "gone with the port";
}

struct LockFormat {
    const char* name;
    QByteArray (*content)(qint64 pid);
};

void PrintTo(const LockFormat& format, std::ostream* out) { *out << format.name; }

class ForeignLockTest : public ::testing::TestWithParam<LockFormat> {};

// A process of our own stands in for the other serial program.
qint64 startProcess(QProcess& process, const QString& program, const QStringList& arguments) {
    process.start(program, arguments);
    return process.waitForStarted() ? process.processId() : 0;
}

TEST_P(ForeignLockTest, LockOfALiveProcessIsInUseAndOneOfAnEndedProcessIsTakenOver) {
    sim::PseudoTerminal pty;
    const QString lockFile = serial::port_ownership::lockFileOf(pty.devicePath());
    ASSERT_FALSE(lockFile.isEmpty());

    QProcess holder;
    const qint64 pid = startProcess(holder, QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_GT(pid, 0);
    const QByteArray lock = GetParam().content(pid);
    {
        QFile file(lockFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(lock) == lock.size());
    }
    serial::SerialLink link;
    const std::optional<serial::CommError> failure = openFailure(link, pty.devicePath());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number(), serial::CommError::PortInUse);
    EXPECT_TRUE(failure->reason().contains(QString::number(pid)))
        << failure->reason().toStdString();
    QFile file(lockFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), lock) << "another program's lock is never touched";
    file.close();

    holder.kill();
    holder.waitForFinished();
    const std::optional<serial::CommError> afterEnd = openFailure(link, pty.devicePath());
    EXPECT_FALSE(afterEnd) << afterEnd->reason().toStdString();
    link.close();
    EXPECT_FALSE(QFile::exists(lockFile));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ForeignLockTest,
    ::testing::Values(
        LockFormat{"TenCharacters",
                   [](qint64 pid) { return QByteArray::number(pid).rightJustified(10) + '\n'; }},
        LockFormat{"WithProgramAndUser",
                   [](qint64 pid) {
                       return QByteArray::number(pid).rightJustified(10) + " minicom root\n";
                   }},
        LockFormat{"BinaryNumber",
                   [](qint64 pid) {
                       const qint32 number = qint32(pid);
                       return QByteArray(reinterpret_cast<const char*>(&number), sizeof number);
                   }},
        LockFormat{"SerialLayersOwn",
                   [](qint64 pid) {
                       return QByteArray::number(pid) + "\nsleep\n" +
                              QSysInfo::machineHostName().toUtf8() + '\n';
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

// Holds every descriptor the process may still open while it lives.
class NoDescriptorsLeft {
public:
    NoDescriptorsLeft() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit limited = saved_;
        limited.rlim_cur = 256;
        setrlimit(RLIMIT_NOFILE, &limited);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) held_.push_back(fd);
    }
    ~NoDescriptorsLeft() {
        for (const int fd : held_) ::close(fd);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_{};
    std::vector<int> held_;
};

TEST(PortOwnership, LockThatCannotBeMadeIsNotAPortInUse) {
    if (test::kUnderSanitizers) GTEST_SKIP() << "the sanitizers cannot run without descriptors";
    sim::PseudoTerminal pty;
    serial::SerialLink link;
    std::optional<serial::CommError> failure;
    {
        NoDescriptorsLeft exhausted;
        failure = openFailure(link, pty.devicePath());
    }
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->number(), serial::CommError::PortInUse);
    EXPECT_TRUE(failure->reason().contains(QStringLiteral("Too many open files")))
        << failure->reason().toStdString();
    EXPECT_FALSE(openFailure(link, pty.devicePath())) << "the port opens once descriptors are free";
}

}  // namespace
}  // namespace tessaly
