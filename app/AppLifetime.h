#pragma once

#include <QString>

#include <functional>

// The process's fixed start-up and shutdown order around the event loop.
class AppLifetime
{
public:
    // Observer told the name of each step as it starts (tests watch the order through it).
    using StepObserver = std::function<void(const QString& step)>;

    static int run(int& argc, char** argv);
    static void setStepObserver(StepObserver observer);

private:
    static void step(const char* name);
};
