// map-watch: starts a program and prints its process id and the seconds from exec to its first
// top-level window being mapped on the X display, then waits for the program to end.
//   map-watch TIMEOUT-SECONDS PROGRAM [ARGS...]
// Exits 1 when no window appears in time (the program is then killed).
#include <X11/Xlib.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: map-watch TIMEOUT-SECONDS PROGRAM [ARGS...]\n");
        return 2;
    }
    const double timeout = atof(argv[1]);
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "map-watch: cannot open the display\n");
        return 2;
    }
    // Every window mapped as a child of the root window is reported to us.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(ConnectionNumber(display));
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    const int fd = ConnectionNumber(display);
    while (now() - start < timeout) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                printf("%d %.4f\n", (int)pid, now() - start);
                fflush(stdout);
                XCloseDisplay(display);
                int status = 0;
                waitpid(pid, &status, 0);
                return 0;
            }
        }
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        struct timeval tv = {0, 20000};
        select(fd + 1, &fds, NULL, NULL, &tv);
    }
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    fprintf(stderr, "map-watch: no window within %.1f s\n", timeout);
    return 1;
}
