/* Preloaded into GTKTerm and CuteCom by bench/peers/run, and only there: lets them keep a
 * pseudo-terminal open as if it were a serial port. A pty has no modem lines and udev has no
 * record of /dev/pts/N, and both programs give up on the port for either reason. Reading,
 * writing and display are left alone. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>

/* Unix 98 pty slaves have majors 136 to 143. */
static int isPtySlave(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136
        && major(st.st_rdev) <= 143;
}

typedef int (*IoctlFn)(int, unsigned long, ...);
typedef void *(*QueryFn)(void *, const char *);

/* dlsym() hands back an object pointer; ISO C only lets memcpy turn it into a function's. */
static void lookUp(void *handle, const char *name, void *function, size_t size)
{
    void *symbol = dlsym(handle, name);
    if (symbol)
        memcpy(function, &symbol, size);
}

int ioctl(int fd, unsigned long request, ...)
{
    static IoctlFn real;
    if (!real)
        lookUp(RTLD_NEXT, "ioctl", &real, sizeof real);
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    const int saved = errno;
    const int result = real(fd, request, arg);
    if (result != -1 || (errno != ENOTTY && errno != EINVAL) || !isPtySlave(fd))
        return result;

    switch (request) {
    case TIOCMGET:
        /* A device that is plugged in and ready. */
        *(int *)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        break;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        break;
    case TIOCGICOUNT:
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        break;
    case TIOCMIWAIT: {
        /* The lines never change: keep a watcher thread waiting instead of spinning. */
        const struct timespec second = {1, 0};
        nanosleep(&second, NULL);
        errno = EINTR;
        return -1;
    }
    default:
        return result;
    }
    errno = saved;
    return 0;
}

/* GTKTerm asks gudev for the device behind the port and closes the port when there is none.
 * Answer for a pty with the ptmx device, which exists wherever ptys do. */
void *g_udev_client_query_by_device_file(void *client, const char *file)
{
    QueryFn real = NULL;
    QueryFn bySysfs = NULL;
    lookUp(RTLD_NEXT, "g_udev_client_query_by_device_file", &real, sizeof real);
    void *device = real ? real(client, file) : NULL;
    if (device || !file || strncmp(file, "/dev/pts/", 9) != 0)
        return device;
    lookUp(RTLD_DEFAULT, "g_udev_client_query_by_sysfs_path", &bySysfs, sizeof bySysfs);
    return bySysfs ? bySysfs(client, "/sys/devices/virtual/tty/ptmx") : NULL;
}
