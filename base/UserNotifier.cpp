#include "base/UserNotifier.h"

#include <QDebug>

namespace {
UserNotifier* g_notifier = nullptr;
}

void UserNotifier::install(UserNotifier* notifier)
{
    g_notifier = notifier;
}

void UserNotifier::tellUser(Style style, const QString& title, const QString& text)
{
    if (g_notifier) {
        g_notifier->tell(style, title, text);
        return;
    }
    qInfo() << "tell user" << title << text;
}
