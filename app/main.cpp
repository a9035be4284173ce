#include "app/AppLifetime.h"

#include <QtGlobal>

int main(int argc, char* argv[])
{
    // The windows are plain widgets. Without this, Qt's X11 backend loads OpenGL (GLX and the
    // Mesa driver) to choose each window's visual: measured about 50 ms before the login window
    // maps and about 50 MB resident, for nothing drawn with it. A value the user sets still wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    return AppLifetime::run(argc, argv);
}
