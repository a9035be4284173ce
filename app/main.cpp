#include "app/AppLifetime.h"

#include <QtGlobal>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char* argv[])
{
    // The windows are plain widgets. Without this, Qt's X11 backend loads OpenGL (GLX and the
    // Mesa driver) to choose each window's visual: measured about 50 ms before the login window
    // maps and about 50 MB resident, for nothing drawn with it. A value the user sets still wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // The level meter repaints a few hundred pixels twenty times a second. Through shared memory
    // each repaint costs the X server's completion event and two more wake-ups of the program
    // (measured 52 instead of 22 a second); copied through the socket it costs none, and even a
    // whole window is under a megabyte.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
#ifdef __GLIBC__
    // A dozen threads that allocate little: glibc would give each busy one an arena of its
    // own, each keeping its own free pages (measured 0.2 to 0.5 MB while pushing).
    mallopt(M_ARENA_MAX, 2);
#endif
    return AppLifetime::run(argc, argv);
}
