#pragma once

#include <QString>

// How a layer below the windows tells the user something: it knows the words, the application
// knows the boxes and installs them at start-up. Until then a note is only logged.
class UserNotifier
{
public:
    // Information: a plain information box with OK. Warning: the program's warning box, whose
    // title is always "温馨提示" and whose button reads "确定".
    enum class Style
    {
        Information,
        Warning
    };

    virtual ~UserNotifier() = default;

    // Returns once the user has dismissed the note (the boxes are modal).
    virtual void tell(Style style, const QString& title, const QString& text) = 0;

    // The notifier every layer talks to; nullptr restores the log-only default. Not owned.
    static void install(UserNotifier* notifier);
    static void tellUser(Style style, const QString& title, const QString& text);
};
