#include "linespeed.h"

#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>
#else
#include <termios.h>
#endif

namespace devsim {
namespace detail {

long lineSpeed(int fd)
{
#ifdef __linux__
    // termios2 carries the real number even for BOTHER rates set with TCSETS2.
    struct termios2 tio
    { };
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return -1;
    return static_cast<long>(tio.c_ospeed);
#else
    // On macOS and the BSDs speed_t is the rate itself.
    struct termios tio
    { };
    if (tcgetattr(fd, &tio) != 0)
        return -1;
    return static_cast<long>(cfgetospeed(&tio));
#endif
}

} // namespace detail
} // namespace devsim
