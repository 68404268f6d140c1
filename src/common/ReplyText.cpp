#include "common/ReplyText.h"

#include "platform/TextCodec.h"

#include <QStringDecoder>

QByteArray declaredCharset(const QByteArray& contentType) {
    const QByteArray lower = contentType.toLower();
    const qsizetype at = lower.lastIndexOf("charset=");
    if (at < 0)
        return {};
    QByteArray name = lower.mid(at + 8);
    const qsizetype end = name.indexOf(';');
    if (end >= 0)
        name.truncate(end);
    name = name.trimmed();
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.mid(1, name.size() - 2);
    return name.trimmed();
}

QString replyText(const QByteArray& body, const QByteArray& contentType) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    const QByteArray charset = declaredCharset(contentType);
    if (!charset.isEmpty() && charset != "utf-8" && charset != "utf8") {
        if (const auto declared = platform::decodeStrictly(body, charset))
            return *declared;
    }
    return text;
}
