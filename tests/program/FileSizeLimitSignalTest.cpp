// A write beyond a file-size limit fails like any other write instead of ending the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cerrno>
#include <csignal>

#include "program/StopSignals.h"

namespace tessaly {
namespace {

// Runs in a child with the system's default handling, as a freshly started program has it.
int writeBeyondALimit(const char* path, bool ignoring) {
    std::signal(SIGXFSZ, SIG_DFL);
    if (ignoring) program::ignoreSignalsOfFailedWrites();
    const rlimit limit{16, 16};
    setrlimit(RLIMIT_FSIZE, &limit);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const char bytes[32] = {};
    return ::write(fd, bytes, sizeof bytes) == 16 && ::write(fd, bytes, 16) < 0 && errno == EFBIG
               ? 0
               : 1;
}

TEST(FileSizeLimitSignal, IsIgnoredSoTheWriteFails) {
    QTemporaryDir dir;
    const QByteArray path = dir.filePath("image").toLocal8Bit();
    for (const bool ignoring : {true, false}) {
        SCOPED_TRACE(ignoring);
        const pid_t child = fork();
        if (child == 0) _exit(writeBeyondALimit(path.constData(), ignoring));
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (ignoring) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        }
    }
}

}  // namespace
}  // namespace tessaly
