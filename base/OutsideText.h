#pragma once

#include <QByteArray>
#include <QString>

// Text that comes from outside the program (service replies, device names, anything from the
// network or the sound server): what may be shown of it and how much of it goes into the log.
class OutsideText
{
public:
    // Default cap of a logged body or text; longer ones are cut and their full length noted.
    static constexpr int logCapBytes = 2048;

    // The text without control characters and without bidirectional overrides, embeddings and
    // isolates; line breaks and tabs become spaces, so a one-line surface stays one line.
    static QString forDisplay(const QString& text);

    // The text for a log line: at most capBytes of UTF-8 (cut at a character boundary) followed by
    // "…(N bytes)" when longer, with control and bidi characters written as \uXXXX.
    static QString forLog(const QString& text, int capBytes = logCapBytes);
    static QString forLog(const QByteArray& utf8, int capBytes = logCapBytes);
    // Only the cut and the length note, for a quoting debug stream that escapes by itself.
    static QString capped(const QString& text, int capBytes = logCapBytes);

    // True for the characters that forDisplay removes or replaces.
    static bool isHidden(QChar c);
};
