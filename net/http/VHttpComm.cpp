#include "net/http/VHttpComm.h"

VHttpComm* VHttpComm::s_instance = nullptr;

VHttpComm* VHttpComm::instance()
{
    if (!s_instance)
        s_instance = new VHttpComm();
    return s_instance;
}

void VHttpComm::release()
{
    delete s_instance;
    s_instance = nullptr;
}
