#include "program/StandardDescriptors.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <fcntl.h>

#include <cerrno>
#endif

namespace tessaly::program {

void holdClosedStandardDescriptors() {
#ifdef Q_OS_UNIX
    // In order: open() takes the lowest free number, which is then the closed one.
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF)
            ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
#endif
}

}  // namespace tessaly::program
