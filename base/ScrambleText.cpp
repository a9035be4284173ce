#include "base/ScrambleText.h"

#include <QByteArray>
#include <QTextCodec>

namespace {

const QByteArray& keyA()
{
    static const QByteArray key = QByteArrayLiteral("3F91C6D04B7E2A85D1C0");
    return key;
}

const QByteArray& keyB()
{
    static const QByteArray key = QByteArrayLiteral("B04D92E7C51A");
    return key;
}

void xorKeys(QByteArray& bytes)
{
    const QByteArray& a = keyA();
    const QByteArray& b = keyB();
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(bytes.at(i) ^ a.at(i % a.size()) ^ b.at(i % b.size()));
}

// Strict UTF-8: a damaged stored value must not turn into a password full of U+FFFD.
bool decodeUtf8(const QByteArray& bytes, QString& text)
{
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::DefaultConversion);
    text = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

QString scrambleText(const QString& text, bool decode)
{
    if (text.isEmpty())
        return text;

    QByteArray bytes = text.toUtf8();
    if (!decode) {
        xorKeys(bytes);
        return QString::fromLatin1(bytes.toBase64());
    }

    // The INI file can be edited by hand: reject what is not Base64 instead of guessing.
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        bytes, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return QString();
    bytes = decoded.decoded;
    xorKeys(bytes);
    QString result;
    if (!decodeUtf8(bytes, result))
        return QString();
    return result;
}
