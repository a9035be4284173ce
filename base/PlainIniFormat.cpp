#include "base/PlainIniFormat.h"

#include <QDebug>
#include <QIODevice>
#include <QList>
#include <QMap>
#include <QPair>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// Text escapes as Qt writes them: control characters and everything beyond ASCII as \x with
// hexadecimal digits; a hexadecimal digit right after such an escape is escaped as well, so it
// cannot be read as part of it. Quoted when it holds ; , = or starts or ends with a space.
QByteArray escapedText(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() * 3 / 2);
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (const QChar qc : text) {
        const ushort ch = qc.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && ch < 0x80 && isHexDigit(char(ch))) {
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case '\0':
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            if (ch <= 0x1f || ch >= 0x7f) {
                out += "\\x" + QByteArray::number(ch, 16);
                escapeNextIfDigit = true;
            } else {
                out += char(ch);
            }
        }
    }
    if (needsQuotes || (!out.isEmpty() && (out.startsWith(' ') || out.endsWith(' '))))
        out = '"' + out + '"';
    return out;
}

// The value without a trailing comment (";" outside quotes), trimmed.
QByteArray withoutComment(const QByteArray& text)
{
    bool inQuotes = false;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\\')
            ++i;
        else if (c == '"')
            inQuotes = !inQuotes;
        else if (c == ';' && !inQuotes)
            return text.left(i).trimmed();
    }
    return text.trimmed();
}

// The reverse, as Qt reads it: quotes only group, bytes outside escapes are Latin-1, an unknown
// escape is dropped. A comma outside quotes makes a list for Qt, which we never write: isList.
QString unescapedText(const QByteArray& text, bool& isList)
{
    isList = false;
    QString out;
    out.reserve(text.size());
    bool inQuotes = false;
    int i = 0;
    const int n = text.size();
    while (i < n) {
        const char c = text.at(i);
        if (c == '"') {
            inQuotes = !inQuotes;
            ++i;
        } else if (c == ',' && !inQuotes) {
            isList = true;
            out += QLatin1Char(',');
            ++i;
        } else if (c != '\\') {
            out += QChar(uchar(c));
            ++i;
        } else {
            ++i;
            if (i >= n)
                break;
            const char e = text.at(i++);
            static const char simple[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                             {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                             {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            bool done = false;
            for (const auto& pair : simple) {
                if (e == pair[0]) {
                    out += QLatin1Char(pair[1]);
                    done = true;
                    break;
                }
            }
            if (done)
                continue;
            if (e == 'x' && i < n && isHexDigit(text.at(i))) {
                uint value = 0;
                while (i < n && isHexDigit(text.at(i)))
                    value = (value << 4) + uint(hexValue(text.at(i++)));
                out += QChar(ushort(value));
            } else if (e >= '0' && e <= '7') {
                uint value = uint(e - '0');
                while (i < n && text.at(i) >= '0' && text.at(i) <= '7')
                    value = (value << 3) + uint(text.at(i++) - '0');
                out += QChar(ushort(value));
            }
            // any other escaped character is dropped
        }
    }
    return out;
}

// Section name for a group as Qt writes it.
QByteArray sectionLine(const QString& group)
{
    const QByteArray escaped = PlainIniFormat::encodeKey(group);
    if (escaped.isEmpty())
        return "[General]";
    if (qstricmp(escaped.constData(), "general") == 0)
        return "[%General]";
    return '[' + escaped + ']';
}

} // namespace

QSettings::Format PlainIniFormat::format()
{
    static const QSettings::Format registered =
        QSettings::registerFormat(QStringLiteral("ini"), &PlainIniFormat::read, &PlainIniFormat::write);
    return registered;
}

QByteArray PlainIniFormat::encodeKey(const QString& key)
{
    QByteArray out;
    out.reserve(key.size() * 3 / 2);
    for (const QChar qc : key) {
        uint ch = qc.unicode();
        if (ch == '/') {
            out += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                   ch == '_' || ch == '-' || ch == '.') {
            out += char(ch);
        } else if (ch <= 0xff) {
            out += '%';
            out += kHexDigits[ch / 16];
            out += kHexDigits[ch % 16];
        } else {
            out += "%U";
            char digits[4];
            for (int d = 3; d >= 0; --d) {
                digits[d] = kHexDigits[ch % 16];
                ch >>= 4;
            }
            out += QByteArray(digits, 4);
        }
    }
    return out;
}

QString PlainIniFormat::decodeKey(const QByteArray& text)
{
    QString out;
    const int n = text.size();
    int i = 0;
    while (i < n) {
        const char c = text.at(i);
        if (c == '\\') {
            out += QLatin1Char('/');
            ++i;
            continue;
        }
        if (c != '%' || i == n - 1) {
            out += QChar(uchar(c));
            ++i;
            continue;
        }
        int first = i + 1;
        int digits = 2;
        if (text.at(first) == 'U') {
            ++first;
            digits = 4;
        }
        bool ok = first + digits <= n;
        const uint value = ok ? text.mid(first, digits).toUInt(&ok, 16) : 0;
        if (!ok) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        out += QChar(ushort(value));
        i = first + digits;
    }
    return out;
}

QByteArray PlainIniFormat::encodeValue(const QVariant& value)
{
    if (value.userType() == qMetaTypeId<RawValue>())
        return value.value<RawValue>().bytes;
    QString text = value.toString();
    // Qt marks its own serialised values with a leading "@" and doubles a text's own; a text
    // holding NUL characters it wraps in "@String(...)".
    if (text.contains(QChar::Null))
        text = QStringLiteral("@String(") + text + QLatin1Char(')');
    else if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    return escapedText(text);
}

QVariant PlainIniFormat::decodeValue(const QByteArray& text)
{
    bool isList = false;
    const QString decoded = unescapedText(withoutComment(text), isList);
    if (!isList && !decoded.startsWith(QLatin1Char('@')))
        return decoded;
    if (!isList && decoded.startsWith(QStringLiteral("@@")))
        return decoded.mid(1);
    if (!isList && decoded.startsWith(QStringLiteral("@String(")) && decoded.endsWith(QLatin1Char(')')))
        return decoded.mid(8, decoded.size() - 9); // only a text, nothing to deserialise
    // Qt's serialised values ("@Variant(", "@ByteArray(", ...) and lists: never ours, never
    // interpreted.
    return QVariant::fromValue(RawValue{text});
}

bool PlainIniFormat::read(QIODevice& device, QSettings::SettingsMap& map)
{
    QByteArray content = device.readAll();
    if (content.startsWith("\xef\xbb\xbf"))
        content.remove(0, 3);
    content.replace("\r\n", "\n");
    content.replace('\r', '\n');

    QString section; // "" for top-level keys, else "name/"
    for (const QByteArray& rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            const int close = line.indexOf(']');
            const QByteArray name = line.mid(1, (close < 0 ? line.size() : close) - 1).trimmed();
            if (qstricmp(name.constData(), "general") == 0)
                section.clear();
            else if (qstricmp(name.constData(), "%general") == 0)
                section = QStringLiteral("general/"); // how Qt writes a group named so
            else
                section = decodeKey(name) + QLatin1Char('/');
            continue;
        }
        const int equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QString key = section + decodeKey(line.left(equals).trimmed());
        const QVariant value = decodeValue(line.mid(equals + 1).trimmed());
        if (value.userType() == qMetaTypeId<RawValue>())
            qWarning() << "PlainIniFormat damaged value, not read" << key;
        map.insert(key, value);
    }
    return true;
}

bool PlainIniFormat::write(QIODevice& device, const QSettings::SettingsMap& map)
{
    // Sections in name order, each with its keys in name order, as Qt writes a new file.
    QMap<QString, QList<QPair<QString, QVariant>>> sections;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        const int slash = it.key().indexOf(QLatin1Char('/'));
        const QString group = slash < 0 ? QString() : it.key().left(slash);
        const QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
        sections[group].append({key, it.value()});
    }
    QByteArray out;
    bool first = true;
    for (auto it = sections.begin(); it != sections.end(); ++it) {
        if (!first)
            out += '\n';
        first = false;
        out += sectionLine(it.key()) + '\n';
        std::sort(it->begin(), it->end(),
                  [](const QPair<QString, QVariant>& a, const QPair<QString, QVariant>& b) {
                      return a.first < b.first;
                  });
        for (const auto& entry : *it)
            out += encodeKey(entry.first) + '=' + encodeValue(entry.second) + '\n';
    }
    return device.write(out) == out.size();
}
