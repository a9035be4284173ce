#pragma once

#include <QString>

class QApplication;

#include <functional>

// The process's fixed start-up and shutdown order around the event loop.
class AppLifetime
{
public:
    // Observer told the name of each step as it starts (tests watch the order through it).
    using StepObserver = std::function<void(const QString& step)>;

    static int run(int& argc, char** argv);
    static void setStepObserver(StepObserver observer);

#ifndef Q_OS_WIN
    // SIGINT, SIGTERM and SIGHUP close the windows as the user would and end the event loop.
    static void installTerminationHandlers(QApplication& app);
    // After the application object is gone: default actions again and the pair closed, so a
    // later run in the same process starts clean.
    static void removeTerminationHandlers();
#endif

private:
    static void step(const char* name);
};
