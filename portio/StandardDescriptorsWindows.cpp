#include <fcntl.h>
#include <io.h>

#include <cstdlib>

#include "StandardDescriptors.h"

namespace velkor {

void OpenMissingStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        // _open gives the lowest free descriptor: this missing one.
        if (::_get_osfhandle(fd) == -1 && ::_open("NUL", _O_RDWR) != fd) {
            std::_Exit(127);
        }
    }
}

}  // namespace velkor
