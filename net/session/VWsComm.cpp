#include "net/session/VWsComm.h"

VWsComm* VWsComm::s_instance = nullptr;

VWsComm* VWsComm::instance()
{
    if (!s_instance)
        s_instance = new VWsComm();
    return s_instance;
}

void VWsComm::destroyInstance()
{
    s_instance = nullptr;
    delete this;
}
