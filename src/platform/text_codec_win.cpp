#include "platform/TextCodec.h"

#include <windows.h>

namespace platform {

namespace {

// Qt for Windows has no ICU: the sets a Chinese server may name go through the system's code pages.
UINT codePageOf(const QByteArray& charset) {
    const QByteArray name = charset.toLower();
    if (name == "gbk" || name == "gb2312" || name == "cp936" || name == "x-gbk" || name == "windows-936")
        return 936;
    if (name == "gb18030")
        return 54936;
    if (name == "big5")
        return 950;
    if (name == "iso-8859-1" || name == "latin1")
        return 28591;
    if (name == "windows-1252")
        return 1252;
    return 0;
}

} // namespace

std::optional<QString> decodeStrictly(const QByteArray& bytes, const QByteArray& charset) {
    const UINT codePage = codePageOf(charset);
    if (codePage == 0)
        return std::nullopt;
    if (bytes.isEmpty())
        return QString();
    const int length =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.constData(), int(bytes.size()), nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    QString text(length, Qt::Uninitialized);
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.constData(), int(bytes.size()),
                            reinterpret_cast<wchar_t*>(text.data()), length) != length)
        return std::nullopt;
    return text;
}

} // namespace platform
