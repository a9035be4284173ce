#pragma once

#include <QObject>

// Placeholder: the HTTP transport singleton (its own issue fills it in).
class VHttpComm : public QObject
{
    Q_OBJECT

public:
    static VHttpComm* instance();
    static void release();

private:
    VHttpComm() = default;
    static VHttpComm* s_instance;
};
