#pragma once

#include <QObject>

// Placeholder: the WebSocket channel singleton (its own issue fills it in).
class VWsComm : public QObject
{
    Q_OBJECT

public:
    static VWsComm* instance();
    void destroyInstance();

private:
    VWsComm() = default;
    static VWsComm* s_instance;
};
