#include "program/ProcessResources.h"

#include <QtGlobal>
#include <system_error>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>
#endif

namespace tessaly::program {

bool canStartThread() {
    try {
        std::thread([] {}).join();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

#ifdef Q_OS_UNIX
namespace {

// The limit is on descriptor numbers, and inherited descriptors may sit anywhere below it: only
// opening them shows how many are left.
int countSpare(int wanted) {
    int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Without the null device nothing can be counted, and nothing is refused for that.
    if (descriptor < 0 && errno != EMFILE && errno != ENFILE) return wanted;
    std::vector<int> opened;
    for (; descriptor >= 0; descriptor = ::fcntl(opened.front(), F_DUPFD_CLOEXEC, 0)) {
        opened.push_back(descriptor);
        if (int(opened.size()) >= wanted) break;
    }
    for (const int held : opened) ::close(held);
    return int(opened.size());
}

// By what is missing and no further: descriptors above 1023 are beyond what select() can watch,
// should a library still use it. False when the soft limit is at the hard one already.
bool raiseSoftLimit(int missing) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return false;
    limit.rlim_cur = std::min(limit.rlim_max, limit.rlim_cur + rlim_t(missing));
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace

// Descriptors already open above the old limit take some of the new room, hence the repeats.
int spareDescriptors(int wanted) {
    int spare = countSpare(wanted);
    while (spare < wanted && raiseSoftLimit(wanted - spare)) spare = countSpare(wanted);
    return spare;
}
#else
int spareDescriptors(int wanted) { return wanted; }
#endif

}  // namespace tessaly::program
