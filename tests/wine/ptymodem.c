/* Test aid for Wine, never shipped: preloaded into Wine's process only, it lets Wine's serial
 * layer treat a pseudo-terminal as a port with modem lines. A pty refuses the modem-status
 * request, and Wine then ends every serial wait as cancelled; here the request reports CTS,
 * DSR and carrier up, and setting the lines succeeds without effect. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real)(int, unsigned long, ...);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list list;
    va_start(list, request);
    void *argument = va_arg(list, void *);
    va_end(list);
    const int result = real(fd, request, argument);
    if (result >= 0 || (errno != ENOTTY && errno != EINVAL))
        return result;
    if (request == TIOCMGET && argument) {
        *(int *)argument = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
        return 0;
    }
    if (request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)
        return 0;
    return result;
}
