#pragma once

#include <QImage>
#include <QString>

// Lays the generated pictures out the way the program's forms use them (same geometry, same
// style sheet rules) and grabs the result, so the pictures can be judged in place.
class FormPreview
{
public:
    // pictureDir holds the generated files; the style sheets point at it instead of ":/".
    // The result shows the login window, the voice panel unmuted and muted, and the
    // confirmation box, side by side on a grey backdrop.
    static QImage render(const QString& pictureDir);
};
