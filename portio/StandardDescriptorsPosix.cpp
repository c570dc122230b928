#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "StandardDescriptors.h"

namespace velkor {

void OpenMissingStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        // open gives the lowest free descriptor: this missing one.
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) {
            // Nothing can be reported without a standard error; leave at once.
            ::_exit(127);
        }
    }
}

}  // namespace velkor
