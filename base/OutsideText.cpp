#include "base/OutsideText.h"

bool OutsideText::isHidden(QChar c)
{
    const ushort u = c.unicode();
    if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
        return true;
    // Marks and overrides that reorder what is shown ("EVIL" drawn as "LIVE"), the line and
    // paragraph separators, and the byte order mark / zero-width no-break space.
    return u == 0x061c || u == 0x200e || u == 0x200f || (u >= 0x2028 && u <= 0x202e) ||
           (u >= 0x2066 && u <= 0x2069) || u == 0xfeff;
}

QString OutsideText::forDisplay(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (!isHidden(c))
            shown.append(c);
        else if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
            shown.append(QLatin1Char(' '));
    }
    return shown;
}

QString OutsideText::forLog(const QString& text, int capBytes)
{
    return forLog(text.toUtf8(), capBytes);
}

namespace {

// Length of the longest UTF-8 prefix of at most capBytes that splits no character.
int cutAt(const QByteArray& utf8, int capBytes)
{
    int cut = utf8.size();
    if (cut > capBytes) {
        cut = qMax(0, capBytes);
        while (cut > 0 && (uchar(utf8.at(cut)) & 0xc0) == 0x80)
            --cut;
    }
    return cut;
}

QString lengthNote(int bytes)
{
    return QStringLiteral("…(%1 bytes)").arg(bytes);
}

} // namespace

QString OutsideText::capped(const QString& text, int capBytes)
{
    // Cheap way out for the common short text: UTF-8 takes at most three bytes per UTF-16 unit.
    if (text.size() * 3 <= capBytes)
        return text;
    const QByteArray utf8 = text.toUtf8();
    const int cut = cutAt(utf8, capBytes);
    if (cut == utf8.size())
        return text;
    return QString::fromUtf8(utf8.constData(), cut) + lengthNote(utf8.size());
}

QString OutsideText::forLog(const QByteArray& utf8, int capBytes)
{
    const int cut = cutAt(utf8, capBytes);
    const QString kept = QString::fromUtf8(utf8.constData(), cut);
    QString logged;
    logged.reserve(kept.size() + 24);
    for (const QChar c : kept) {
        if (isHidden(c))
            logged += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            logged.append(c);
    }
    if (cut < utf8.size())
        logged += lengthNote(utf8.size());
    return logged;
}
