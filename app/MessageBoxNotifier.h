#pragma once

#include "base/UserNotifier.h"

// The application's real boxes behind the lower layers' notes.
class MessageBoxNotifier : public UserNotifier
{
public:
    void tell(Style style, const QString& title, const QString& text) override;
};
