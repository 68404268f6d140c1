#include "platform/TextCodec.h"

#include <QStringDecoder>

namespace platform {

// Qt reaches every set through ICU here.
std::optional<QString> decodeStrictly(const QByteArray& bytes, const QByteArray& charset) {
    QStringDecoder decoder(charset.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace platform
