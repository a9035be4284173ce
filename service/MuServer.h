#pragma once

#include "app/VSingleton.h"

#include <QObject>

// Placeholder: the push-stream service client (its own issue fills it in).
class MuServer : public QObject, public VSingleton<MuServer>
{
    Q_OBJECT
    friend class VSingleton<MuServer>;

private:
    MuServer() = default;
};
